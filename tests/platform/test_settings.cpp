// settings.ini: our INI reader and writer against files written by hand, and
// the seven settings on top of it.

#include "platform/ini_file.h"
#include "platform/settings_file.h"
#include "test_main.h"
#include "test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <string>
#include <vector>

using namespace gnis;
using namespace testsupport;

class SettingsTest : public QObject {
    Q_OBJECT
private slots:
    void reading_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected"); // "<default>" when the fallback comes back
        QTest::newRow("any case") << QByteArray("[postgis]\nHOST=db.example\n") << "PostGIS" << "host" << "db.example";
        QTest::newRow("blanks around") << QByteArray("[ PostGIS ]\n  host = db.example  \r\n") << "PostGIS" << "host" << "db.example";
        QTest::newRow("empty value is a value") << QByteArray("[PostGIS]\nhost=\n") << "PostGIS" << "host" << "";
        QTest::newRow("key in another section") << QByteArray("[Software]\nhost=x\n") << "PostGIS" << "host" << "<default>";
        QTest::newRow("commented out") << QByteArray("[PostGIS]\n;host=x\n# host=y\n") << "PostGIS" << "host" << "<default>";
        QTest::newRow("first of duplicates") << QByteArray("[PostGIS]\nhost=a\nhost=b\n") << "PostGIS" << "host" << "a";
        QTest::newRow("no file") << QByteArray() << "PostGIS" << "host" << "<default>";
        QTest::newRow("byte-order mark, as some editors save") << QByteArray("\xEF\xBB\xBF[Software]\r\nfwtools=/usr/bin\r\n")
                                                               << "Software" << "fwtools" << "/usr/bin";
    }
    void onlyPlainFilesOfASettingsFileSize_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("error"); // empty: read
        QTest::newRow("a FIFO would hang both programs") << "fifo" << "it is not a plain file";
        QTest::newRow("a link to an endless device") << "device" << "it is not a plain file";
        QTest::newRow("over 1 MiB") << "large" << "it is larger than 1 MiB, more than any settings file";
        QTest::newRow("a link to a plain file, as dotfile managers make") << "link" << "";
    }
    void onlyPlainFilesOfASettingsFileSize() {
        QFETCH(QString, kind);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString path = dir.path() + "/settings.ini";
        if (kind == "fifo")
            QCOMPARE(runTool("mkfifo", {path}).exitCode, 0);
        else if (kind == "device")
            QVERIFY(QFile::link("/dev/zero", path));
        else if (kind == "large")
            writeAll(path, "[User]\ngnis=/data\n" + QByteArray(1 << 20, ';'));
        else if (writeAll(dir.path() + "/real.ini", "[User]\ngnis=/data\n"))
            QVERIFY(QFile::link(dir.path() + "/real.ini", path));
        IniFile ini;
        const Outcome loaded = ini.load(fsPath(path));
        QCOMPARE(QString::fromStdString(loaded.error()), error.isEmpty() ? error : "Can't read " + path + ": " + error);
        QCOMPARE(LoadStoredSettings(fsPath(path)).gnis, std::string(error.isEmpty() ? "/data" : ""));
    }

    void reading() {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = dir.path() + "/settings.ini";
        if (!file.isNull())
            writeAll(path, file);
        IniFile ini;
        QVERIFY(ini.load(fsPath(path)).ok());
        QCOMPARE(QString::fromStdString(ini.get(section.toStdString(), key.toStdString(), "<default>")), expected);
    }

    void valuesKeptByteForByte() {
        // Whatever a password holds comes back as it was saved: blanks and quotes at
        // its ends, Windows-1252 bytes, any length.
        const std::vector<std::string> values{"  spaced  ", "\"quoted\"", "a \"b\" c", "caf\xE9 \xA7", std::string(5000, 'p'),
                                              "\t", ""};
        QTemporaryDir dir;
        const auto path = fsPath(dir.path() + "/settings.ini");
        for (const std::string& value : values) {
            IniFile ini;
            QVERIFY(ini.load(path).ok());
            QVERIFY(ini.set("PostGIS", "pass", value).ok());
            QVERIFY(ini.save(path).ok());
            IniFile back;
            QVERIFY(back.load(path).ok());
            QCOMPARE(back.get("PostGIS", "pass"), value);
        }
        IniFile ini;
        QCOMPARE(QString::fromStdString(ini.set("PostGIS", "pass", std::string("a\0b", 3)).error()),
                 QString("The value of pass holds a NUL character and can't be stored"));
    }

    void writingKeepsEverythingElse() {
        QTemporaryDir dir;
        const QString path = dir.path() + "/settings.ini";
        writeAll(path, "\xEF\xBB\xBF; my notes\r\n[Software]\r\nfwtools=/opt/gdal\r\n\r\n[Mine]\r\nkeep=me\r\n");
        IniFile ini;
        QVERIFY(ini.load(fsPath(path)).ok());
        QVERIFY(ini.set("software", "FWTOOLS", "/usr/bin").ok()); // existing key: replaced, its spelling kept
        QVERIFY(ini.set("Software", "postgis", "/usr/lib/postgresql/15/bin").ok()); // new key: end of its section
        QVERIFY(ini.set("PostGIS", "host", "").ok()); // new section: end of the file
        QVERIFY(ini.save(fsPath(path)).ok());
        QCOMPARE(readAll(path), QByteArray("\xEF\xBB\xBF; my notes\r\n[Software]\r\nfwtools=/usr/bin\r\npostgis=/usr/lib/postgresql/15/bin\r\n"
                                           "\r\n[Mine]\r\nkeep=me\r\n[PostGIS]\r\nhost=\r\n"));
        namespace fs = std::filesystem;
        QVERIFY(fs::status(fsPath(path)).permissions() == (fs::perms::owner_read | fs::perms::owner_write));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"settings.ini"});
    }

    void storedSettings() {
        QTemporaryDir dir;
        const auto path = fsPath(dir.path() + "/sub/settings.ini");
        StoredSettings first = LoadStoredSettings(path); // first run: no file
        QCOMPARE(first.host, std::string("localhost"));
        QVERIFY(first.fwtools.empty() && first.pass.empty() && first.gnis.empty());

        QVERIFY(SaveOutputFolder(path, "/home/me/maps").ok()); // picked before the first save
        StoredSettings s;
        s.fwtools = "/usr/bin";
        s.postgis = "/usr/lib/postgresql/15/bin";
        s.host = "";
        s.database = "gis";
        s.user = "mapper";
        s.pass = "p@ss word";
        QVERIFY(SaveStoredSettings(path, s).ok());
        QCOMPARE(readAll(dir.path() + "/sub/settings.ini"),
                 QByteArray("[User]\ngnis=/home/me/maps\n[Software]\nfwtools=/usr/bin\npostgis=/usr/lib/postgresql/15/bin\n"
                            "mkgmap=\ngnisserver=\ngnissource=\nclasses=\n"
                            "[PostGIS]\nhost=\ndatabase=gis\nuser=mapper\npass=p@ss word\nport=\n"));
        const StoredSettings back = LoadStoredSettings(path);
        QCOMPARE(back.host, std::string()); // saved empty: stays empty
        QCOMPARE(back.pass, s.pass);
        QCOMPARE(back.gnis, std::string("/home/me/maps"));
    }

    void failedSave() {
        QTemporaryDir dir;
        writeAll(dir.path() + "/file", "x");
        const Outcome failed = SaveOutputFolder(fsPath(dir.path() + "/file/settings.ini"), "/maps");
        QVERIFY(!failed.ok());
        QVERIFY2(QString::fromStdString(failed.error()).contains("file/settings.ini"), failed.error().c_str());
    }
};

GNIS_TEST_CLASS(SettingsTest)
#include "test_settings.moc"
