// The file-system layer the stages write and delete through.

#include "base/file_system.h"
#include "test_main.h"
#include "test_support.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace gnis;
using namespace testsupport;

class FileSystemTest : public QObject {
    Q_OBJECT
private slots:
    void leftoversOfAKilledRun() {
        // What a run killed outright leaves goes with the next run in that folder;
        // anything named otherwise, and every link, stays.
        QTemporaryDir dir;
        const QStringList ours{".gnis.gpx.tmp-123-4", ".gnis.mp.tmp-5-6", ".gnis-77-8.zip", ".gnis-77-9.txt",
                               "..gnis-77-8.zip.tmp-1-2", "..gmapsupp.img.trailcrafter.tmp-3-4"};
        const QStringList others{"gnis.gpx", ".gnis.gpx.tmp-x", ".gnis.gpx.tmp-1-2.bak", ".gnis-77-8.zip.old", ".gnis-notes.txt",
                                 ".trailcrafter-gnis.lock", "notes.gnis.gpx.tmp-1-2", ".gnis-work-12x"};
        for (const QString& name : ours + others)
            writeAll(dir.path() + "/" + name, "x");
        QVERIFY(QDir(dir.path()).mkpath(".gnis-work-42/inner"));
        writeAll(dir.path() + "/.gnis-work-42/inner/gnis.shp", "x");
        QVERIFY(QDir(dir.path()).mkdir("elsewhere"));
        writeAll(dir.path() + "/elsewhere/keep.txt", "x");
        QVERIFY(QFile::link(dir.path() + "/elsewhere", dir.path() + "/.gnis-work-43")); // a link: never followed
        QVERIFY(QFile::link(dir.path() + "/elsewhere/keep.txt", dir.path() + "/.gnis-1-1.zip"));
        RemoveLeftovers(fsPath(dir.path()));
        QStringList expected = others + QStringList{".gnis-1-1.zip", ".gnis-work-43", "elsewhere"};
        expected.sort();
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name), expected);
        QCOMPARE(readAll(dir.path() + "/elsewhere/keep.txt"), QByteArray("x"));
    }

    void oneRunPerFolder() {
        QTemporaryDir dir;
        FolderLock first, second;
        QVERIFY(first.acquire(fsPath(dir.path())).ok());
        QCOMPARE(QString::fromStdString(second.acquire(fsPath(dir.path())).error()), "another run is using " + dir.path());
        first.release();
        QCOMPARE(filesIn(dir.path()), QStringList{}); // the lock file goes with the lock
        QVERIFY(second.acquire(fsPath(dir.path())).ok());
    }

    void deleteFile_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("force");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("gone");
        QTest::newRow("read-only without force") << "readonly" << false << false << false;
        QTest::newRow("read-only with force") << "readonly" << true << true << true;
        QTest::newRow("folder") << "folder" << true << false << false;
    }
    void deleteFile() {
        QFETCH(QString, kind);
        QFETCH(bool, force);
        QFETCH(bool, ok);
        QFETCH(bool, gone);
        QTemporaryDir dir;
        const QString path = dir.path() + "/target";
        if (kind == "folder")
            QDir(dir.path()).mkdir("target");
        else if (kind != "missing")
            writeAll(path, "x");
        if (kind == "readonly")
            QFile::setPermissions(path, QFile::ReadOwner);
        const Outcome result = DeleteFile(fsPath(path), force);
        QCOMPARE(result.ok(), ok);
        if (!ok)
            QVERIFY2(QString::fromStdString(result.error()).contains(path), result.error().c_str());
        QCOMPARE(!QFileInfo::exists(path), gone);
    }

    void writerReplacesOnlyOnCommit() {
        QTemporaryDir dir;
        const QString target = dir.path() + "/out.txt";
        writeAll(target, "old");
        {
            TextFileWriter w;
            QVERIFY(w.open(fsPath(target)).ok());
            w.writeLine("new");
            QCOMPARE(readAll(target), QByteArray("old"));
            // Abandoned without commit: the old file stays and no temporary is left.
        }
        QCOMPARE(readAll(target), QByteArray("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.txt"});

        TextFileWriter w;
        QVERIFY(w.open(fsPath(target)).ok());
        // Small and large pieces in turn: order kept however each is buffered.
        QByteArray expected;
        for (const std::size_t size : {std::size_t(9), std::size_t(100000), std::size_t(3), std::size_t(3 << 20),
                                       std::size_t(70000), std::size_t(5)}) {
            const std::string piece(size, char('a' + expected.size() % 26));
            w.writeLine(piece);
            expected += QByteArray::fromStdString(piece) + "\r\n";
        }
        QVERIFY(w.commit().ok());
        QCOMPARE(readAll(target), expected);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.txt"});
    }
};

GNIS_TEST_CLASS(FileSystemTest)
#include "test_file_system.moc"
