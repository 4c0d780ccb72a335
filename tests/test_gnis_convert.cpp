// gnis-convert end to end, as a user runs it from a terminal.

#include "test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

namespace {

const QByteArray kText =
    "FEATURE_ID|FEATURE_NAME|FEATURE_CLASS|STATE_ALPHA|STATE_NUMERIC|COUNTY_NAME|COUNTY_NUMERIC|"
    "PRIMARY_LAT_DMS|PRIM_LONG_DMS|PRIM_LAT_DEC|PRIM_LONG_DEC|SOURCE_LAT_DMS|SOURCE_LONG_DMS|"
    "SOURCE_LAT_DEC|SOURCE_LONG_DEC|ELEVATION|MAP_NAME|DATE_CREATED|DATE_EDITED\r\n"
    "607448|Mount Greylock|Summit|MA|25|Berkshire|003|423815N|0730958W|42.6375821|-73.1662155|||||1063|Williamstown|02/24/1974|\r\n"
    "1|Broken|Summit|MA|25|Berkshire|003|423815N|0730958W|north|-73.1|||||1|X||\r\n"
    "2|Beach|Beach|MA|25|Berkshire|003|423815N|0730958W|42.1|-73.1|||||1|X||\r\n";

ToolRun convert(const QStringList& args) { return runTool(QStringLiteral(GNIS_CONVERT), args); }

} // namespace

class GnisConvertTest : public QObject {
    Q_OBJECT
private slots:
    void helpAndVersion() {
        const ToolRun help = convert({"--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.startsWith("Usage: gnis-convert"));
        QVERIFY(help.out.contains("--input FILE"));
        const ToolRun version = convert({"gpx", "--version"});
        QCOMPARE(version.exitCode, 0);
        QVERIFY(version.out.startsWith("gnis-convert "));
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing") << QStringList{} << "no command given";
        QTest::newRow("unknown command") << QStringList{"kml"} << "unknown command 'kml'";
        QTest::newRow("unknown option") << QStringList{"gpx", "--state", "MA", "--output", "/tmp", "--fast"}
                                        << "unknown option '--fast'";
        QTest::newRow("missing value") << QStringList{"gpx", "--state"} << "option --state needs a value";
        QTest::newRow("no output") << QStringList{"gpx", "--state", "MA"} << "gpx needs --output DIR";
        QTest::newRow("no state") << QStringList{"gpx", "--output", "/tmp"} << "gpx needs --state";
        QTest::newRow("unknown state") << QStringList{"gpx", "--state", "Atlantis", "--output", "/tmp"}
                                       << "unknown state 'Atlantis'";
        QTest::newRow("twice") << QStringList{"gpx", "--state=MA", "--state", "HI", "--output", "/tmp"}
                               << "option --state given twice";
    }
    void usageErrors() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const ToolRun run = convert(args);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(QString::fromUtf8(run.err).contains(message), run.err.constData());
        QVERIFY(run.err.contains("--help"));
        QVERIFY(run.out.isEmpty());
    }

    void jobFailures_data() {
        QTest::addColumn<bool>("folderExists");
        QTest::addColumn<QString>("message");
        QTest::newRow("no output folder") << false << "GNIS ERROR: The output folder";
        QTest::newRow("no state text") << true << "GNIS ERROR: No GNIS text file exists";
    }
    void jobFailures() {
        QFETCH(bool, folderExists);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString out = folderExists ? dir.path() : dir.path() + "/missing";
        const ToolRun run = convert({"gpx", "--state", "massachusetts", "--output", out});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(QString::fromUtf8(run.err).contains(message), run.err.constData());
        QVERIFY(!run.out.contains("created"));
        QVERIFY(!QFileInfo::exists(out + "/gnis.gpx"));
    }

    void statesTextIsConvertedAndRemoved() {
        QTemporaryDir dir;
        writeAll(dir.path() + "/MA_Features_20090401.txt", kText);
        const ToolRun run = convert({"gpx", "--state", "ma", "--output", dir.path()});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.err.contains("Creating GNIS GPX File"));
        const QString summary = QString::fromUtf8(run.out).trimmed();
        QVERIFY2(summary.contains(dir.path() + "/gnis.gpx: 1 waypoints written from 3 records, 1 skipped as malformed "
                                               "(line 3: latitude \"north\" is not a decimal number)"),
                 qPrintable(summary));
        QVERIFY(summary.endsWith("GNIS GPX file created."));
        QCOMPARE(summary.count('\n'), 0);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"gnis.gpx"});
    }

    void usersInputIsNeverChanged() {
        QTemporaryDir in, out;
        const QString input = in.path() + "/MA_Features_20090401.txt";
        writeAll(input, kText);
        QFile::setPermissions(input, QFile::ReadOwner | QFile::ReadGroup);
        const QDateTime modified = QFileInfo(input).lastModified();
        // Even when the input lies in the output folder under the state's own name.
        for (const QString& folder : {out.path(), in.path()}) {
            const ToolRun run = convert({"gpx", "--state", "MA", "--output", folder, "--input", input});
            QCOMPARE(run.exitCode, 0);
            QCOMPARE(readAll(input), kText);
            QCOMPARE(QFileInfo(input).lastModified(), modified);
            QCOMPARE(readAll(folder + "/gnis.gpx").count("<wpt "), 1);
        }
        const ToolRun noState = convert({"gpx", "--output", out.path(), "--input", input});
        QCOMPARE(noState.exitCode, 0);
    }
};

QTEST_GUILESS_MAIN(GnisConvertTest)
#include "test_gnis_convert.moc"
