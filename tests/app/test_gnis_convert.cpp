// gnis-convert end to end, as a user runs it from a terminal.

#include "http_test_server.h"
#include "gazetteer/states.h"
#include "test_main.h"
#include "test_support.h"
#include "zip_builder.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdlib>
#include <sys/types.h>

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

// Every entry of a folder, hidden ones and those in subfolders, with what files hold.
QMap<QString, QByteArray> snapshot(const QString& folder) {
    QMap<QString, QByteArray> entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        entries[QDir(folder).relativeFilePath(path)] = QFileInfo(path).isFile() ? readAll(path) : QByteArray("<folder>");
    }
    return entries;
}

// Stands in for ogr2ogr, shp2pgsql, psql, pgsql2shp and mkgmap: the one named in
// STANDIN_SLOW works for half a minute in a child of its own (its pid noted), so an
// interrupt must end a whole process group; the others end at once. As psql it
// answers the session's queries (the lock, putting the table back) and reads its input.
const QByteArray kSlowTool = R"(#!/bin/sh
name=$(basename "$0")
case "$name:$*" in
  psql:*"-A -t"*) while read line; do case "$line" in *"'put back'"*) echo "put back" ;; *"'dropped'"*) echo dropped ;; *"'swapped'"*) echo swapped ;; *) echo t ;; esac; done; exit 0 ;;
  psql:*"-f -"*) exec cat >/dev/null ;;
esac
if [ "$name" = "$STANDIN_SLOW" ]; then
  sleep 30 &
  echo $! >> "$STANDIN_PIDS"
  wait
fi
)";

} // namespace

class GnisConvertTest : public QObject {
    Q_OBJECT
    QTemporaryDir config_;
private slots:
    void initTestCase() { isolateConfiguration(config_.path()); }

    void helpAndVersion() {
        const ToolRun help = convert({"--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.startsWith("Usage: gnis-convert"));
        // Each command's own help lists its options and no other's.
        const ToolRun shpHelp = convert({"shp", "--output", "/tmp", "--help"});
        QCOMPARE(shpHelp.exitCode, 0);
        QVERIFY2(shpHelp.out.startsWith("Usage: gnis-convert shp [options]\n"), shpHelp.out.constData());
        QVERIFY(shpHelp.out.contains("--fwtools <DIR>") && !shpHelp.out.contains("--postgis"));
        const ToolRun version = convert({"gpx", "--version"});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, QByteArray("gnis-convert " GNIS_VERSION "\n"));

        // The man page and the shell completion are written apart from --help:
        // they must know the same options, and the completion every state.
        static const QRegularExpression option("--[a-z][a-z-]+");
        auto options = [](const QString& text) {
            QSet<QString> found;
            for (auto it = option.globalMatch(text); it.hasNext();)
                found << it.next().captured();
            return found;
        };
        const QSet<QString> helpOptions = options(QString::fromUtf8(help.out));
        QVERIFY(helpOptions.contains("--source") && helpOptions.size() >= 15);
        const QString man = QString::fromUtf8(readAll(sourceDir() + "/data/gnis-convert.1")).remove("\\");
        QCOMPARE(options(man), helpOptions);
        const QString completion = QString::fromUtf8(readAll(sourceDir() + "/data/gnis-convert.bash-completion"));
        QCOMPARE(options(completion), helpOptions);
        const QStringList codes = QRegularExpression("states=\"([A-Z ]+)\"").match(completion).captured(1).split(' ');
        QSet<QString> catalogue;
        for (const std::string_view code : gnis::stateCodes)
            catalogue << QString::fromUtf8(code.data(), qsizetype(code.size()));
        QCOMPARE(QSet<QString>(codes.begin(), codes.end()), catalogue);
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown command") << QStringList{"kml"} << "unknown command 'kml'";
        QTest::newRow("unknown option") << QStringList{"gpx", "--state", "MA", "--output", "/tmp", "--fast"}
                                        << "Unknown option 'fast'.\nTry 'gnis-convert gpx --help' for its options.";
        QTest::newRow("missing value") << QStringList{"gpx", "--state"} << "Missing value after '--state'.";
        QTest::newRow("no output") << QStringList{"gpx", "--state", "MA"} << "gpx needs --output DIR";
        QTest::newRow("twice") << QStringList{"gpx", "--state=MA", "--state", "HI", "--output", "/tmp"}
                               << "option --state given twice";
        QTest::newRow("port out of range") << QStringList{"process", "--output", "/tmp", "--port", "70000"}
                                           << "--port needs a number from 1 to 65535";
        QTest::newRow("archive without state") << QStringList{"gpx", "--output", "/tmp", "--input", "x.zip"}
                                               << "needs --state";
        QTest::newRow("box of three numbers") << QStringList{"gpx", "--state=MA", "--output", "/tmp", "--bbox=-71,42,-70"}
                                              << "--bbox: the box \"-71,42,-70\" has 3 numbers, not 4";
        QTest::newRow("box upside down") << QStringList{"gpx", "--state=MA", "--output", "/tmp", "--bbox=-71,43,-70,42"}
                                         << "--bbox: the box's south (43) must be below its north (42)";
        QTest::newRow("box past the poles") << QStringList{"mp", "--state=MA", "--output", "/tmp", "--bbox=-71,42,-70,91"}
                                            << "--bbox: the box's south and north must lie in -90..90";
        QTest::newRow("box of nan") << QStringList{"gpx", "--state=MA", "--output", "/tmp", "--bbox=nan,43,-71,44"}
                                    << "--bbox: the box's \"nan\" is not a decimal number";
        QTest::newRow("box of two signs") << QStringList{"gpx", "--state=MA", "--output", "/tmp", "--bbox=+-72,43,-71,44"}
                                          << "--bbox: the box's \"+-72\" is not a decimal number";
        QTest::newRow("empty county") << QStringList{"shp", "--state=MA", "--output", "/tmp", "--county=Essex,,Suffolk"}
                                      << "--county: the county list \"Essex,,Suffolk\" has an empty name";
        QTest::newRow("extract without archive") << QStringList{"extract", "--output", "/tmp"}
                                                 << "extract needs an archive";
        QTest::newRow("flag with value") << QStringList{"extract", "a.zip", "--output", "/tmp", "--flat=yes"}
                                         << "Unexpected value after '--flat'.";
        QTest::newRow("size not a number") << QStringList{"extract", "a.zip", "--output", "/tmp", "--max-size", "1G"}
                                           << "--max-size needs a whole number of megabytes";
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

    void missingOutputFolderFails() {
        QTemporaryDir dir;
        const QString out = dir.path() + "/missing";
        const ToolRun run = convert({"gpx", "--state", "massachusetts", "--output", out, "--server", dir.path()});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("GNIS ERROR: The output folder"), run.err.constData());
        QVERIFY(run.out.isEmpty());
        QVERIFY(!QFileInfo::exists(out));
    }

    void stateArchiveFromMirrorFolder() {
        QTemporaryDir dir, mirror;
        putFile(bucketArchive(mirror.path(), "MA"), domesticNamesArchive("MA", kText));
        const ToolRun run = convert({"gpx", "--state", "ma", "--output", dir.path(), "--server", mirror.path()});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.err.contains("Creating GNIS GPX File"));
        const QString summary = QString::fromUtf8(run.out).trimmed();
        QVERIFY2(summary.contains(dir.path() + "/gnis.gpx: 1 waypoints written from 3 records; 1 left out by the class "
                                               "table (Beach 1); 0 duplicates skipped; 1 skipped as malformed "
                                               "(line 3: latitude \"north\" is not a decimal number)"),
                 qPrintable(summary));
        QVERIFY2(summary.endsWith("GNIS GPX file created. Nothing to compare with: the first run of these states, "
                                  "source, class table and area."),
                 qPrintable(summary));
        QCOMPARE(summary.count('\n'), 0);
        // Neither the metadata beside the text nor its folder is unpacked.
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"gnis.gpx"});
    }

    void controlCharactersNeverReachTheTerminal() {
        // A member name that would set the terminal's title if printed raw.
        QTemporaryDir dir;
        Archive a;
        a.members << Member{"evil\x1b]0;owned\x07.txt", "x"};
        writeAll(dir.path() + "/a.zip", a.bytes());
        const ToolRun run = convert({"extract", dir.path() + "/a.zip", "--output", dir.path() + "/out"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.contains("Extracting .../evil\\x1b]0;owned\\x07.txt"), run.err.constData());
        QVERIFY(!run.err.contains('\x1b') && !run.out.contains('\x1b'));
    }

    void usersInputIsNeverChanged() {
        // A text or an archive of the user's, even in the output folder under the names the pipeline uses.
        Archive a;
        a.members << Member{"MA_Features_20090401.txt", kText};
        QTemporaryDir in, out;
        for (const auto& [name, bytes] : {std::pair{QString("MA_Features_20090401.txt"), kText},
                                          std::pair{QString("mine.zip"), a.bytes()}, std::pair{QString("gnis.zip"), a.bytes()}}) {
            for (const QString& folder : {in.path(), out.path()}) {
                const QString input = folder + "/" + name;
                writeAll(input, bytes);
                QFile::setPermissions(input, QFile::ReadOwner | QFile::ReadGroup);
                const QDateTime modified = QFileInfo(input).lastModified();
                const QStringList state = name.endsWith(".zip") ? QStringList{"--state", "MA"} : QStringList{}; // a text needs none
                const ToolRun run = convert(QStringList{"gpx", "--output", out.path(), "--input", input} + state);
                QCOMPARE(run.exitCode, 0);
                QVERIFY(run.out.contains(": 1 waypoints written from 3 records"));
                QCOMPARE(readAll(input), bytes);
                QCOMPARE(QFileInfo(input).lastModified(), modified);
                QFile::remove(input);
            }
        }
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"gnis.gpx"});
    }

    void builtInClassTableToStartFrom() {
        // What "classes" prints is a table --classes reads, and it makes the same file as the built-in one.
        const ToolRun table = convert({"classes"});
        QCOMPARE(table.exitCode, 0);
        QCOMPARE(table.out.count('\n'), 42); // a comment and the 41 rows
        QTemporaryDir dir;
        writeAll(dir.path() + "/classes.txt", table.out);
        writeAll(dir.path() + "/input.txt", kText);
        QDir().mkpath(dir.path() + "/own");
        QCOMPARE(convert({"gpx", "--input", dir.path() + "/input.txt", "--output", dir.path()}).exitCode, 0);
        QCOMPARE(convert({"gpx", "--input", dir.path() + "/input.txt", "--output", dir.path() + "/own", "--classes",
                          dir.path() + "/classes.txt"}).exitCode, 0);
        auto withoutTime = [](QByteArray gpx) { return gpx.remove(gpx.indexOf("<time>"), 32); };
        QCOMPARE(withoutTime(readAll(dir.path() + "/own/gnis.gpx")), withoutTime(readAll(dir.path() + "/gnis.gpx")));
    }

    void garminMap() {
        REQUIRE_TOOL("mkgmap");
        QTemporaryDir out;
        const QStringList args{"garmin", "--state", "MA,HI", "--output", out.path(), "--server", sourceDir() + "/data/mirror"};
        const ToolRun run = convert(args);
        QVERIFY2(run.exitCode == 0, run.err.right(2000).constData());
        QVERIFY2(run.out.contains("/gmapsupp.img: map 85294825 \"GNIS MA HI\" made from 13034 waypoints"), run.out.constData());
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({".gmapsupp.img.trailcrafter", "gmapsupp.img", "gnis.mp"}));
        QCOMPARE(readAll(out.path() + "/gnis.mp").count("[POI]\r\nType=0x"), 13034);
        // Labels in mixed case, the Hawaiian ʻokina and macrons kept.
        const QByteArray image = readAll(out.path() + "/gmapsupp.img");
        for (const char* label : {"Mount Greylock", "Puʻukapele", "Hāʻena Point", "Walden Pond"})
            QVERIFY2(image.contains(label), label);
        // No mkgmap: a clear error, and the map made before stays.
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", "/nonexistent");
        const ToolRun missing = convert(args + QStringList{"--mkgmap", out.path() + "/none"});
        qputenv("PATH", path);
        QCOMPARE(missing.exitCode, 1);
        QVERIFY2(missing.err.contains("GNIS ERROR: mkgmap not found in " + out.path().toUtf8() + "/none or on PATH"),
                 missing.err.constData());
        QCOMPARE(readAll(out.path() + "/gmapsupp.img"), image);

        // A name past mkgmap's 50 bytes (a long file name here, or 16 states) is
        // shortened for the description; the map made before is this program's, so it goes.
        QTemporaryDir in;
        const QString longName = in.path() + "/" + QString(60, 'w') + ".txt";
        writeAll(longName, kText);
        const QStringList fromText{"garmin", "--input", longName, "--output", out.path()};
        const ToolRun named = convert(fromText);
        QVERIFY2(named.exitCode == 0, named.err.right(2000).constData());
        QVERIFY(readAll(out.path() + "/gmapsupp.img").contains("Mount Greylock"));
        // A gmapsupp.img of the user's stays, unless --replace says otherwise.
        writeAll(out.path() + "/gmapsupp.img", "the user's own map");
        const ToolRun refused = convert(fromText);
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.err.contains("/gmapsupp.img is a map this program did not make, so it stays as it is"),
                 refused.err.constData());
        QCOMPARE(readAll(out.path() + "/gmapsupp.img"), QByteArray("the user's own map"));
        QCOMPARE(convert(fromText + QStringList{"--replace"}).exitCode, 0);
        // The user's own gnis.mp as the input is never taken for the output.
        const ToolRun itself = convert({"garmin", "--input", out.path() + "/gnis.mp", "--output", out.path()});
        QVERIFY2(itself.exitCode == 1 && itself.err.contains("is the output gnis.mp; choose another folder"), itself.err.constData());
        QVERIFY(readAll(out.path() + "/gmapsupp.img").contains("Mount Greylock"));
    }

    // Two releases of Rhode Island: the real file, then the same with features
    // added, removed, renamed, moved (one by 1.1 km, one by 55 m) and of another class.
    void whatChangedSinceTheLastRun() {
        QTemporaryDir mirror, out;
        const ToolRun unzip = runTool("unzip", {"-p", currentSample("RI"), "Text/DomesticNames_RI.txt"});
        QVERIFY(unzip.exitCode == 0);
        const QByteArray first = unzip.out;
        QList<QByteArray> lines = first.split('\n');
        QByteArray second;
        for (QByteArray line : lines) {
            if (line.startsWith("1217463|") || line.startsWith("1217464|"))
                continue;
            line.replace("1217473|Beach Plum Hill|", "1217473|Beach Plum Hills|");
            line.replace("|41.2158277|-71.5666364|", "|41.2258277|-71.5666364|");
            line.replace("|41.2009364|-71.5772787|", "|41.2014364|-71.5772787|");
            line.replace("1217499|Gunners Hill|Summit|", "1217499|Gunners Hill|Ridge|");
            second += line + (line.isEmpty() ? "" : "\n");
            if (line.startsWith("1217509|")) {
                second += QByteArray(line).replace("1217509|Sandy Hill|", "9000001|New Hill One|") + "\n";
                second += QByteArray(line).replace("1217509|Sandy Hill|", "9000002|New Hill Two|") + "\n";
            }
        }
        QVERIFY(second.contains("9000002|New Hill Two|") && second.contains("41.2258277"));
        const QString archive = bucketArchive(mirror.path(), "RI");
        const QStringList args{"gpx", "--state", "RI", "--server", mirror.path(), "--output", out.path()};
        const QString today = QDateTime::currentDateTime().toString("yyyy-MM-dd");

        QVERIFY(putFile(archive, domesticNamesArchive("RI", first)));
        const ToolRun one = convert(args + QStringList{"--changes", out.path() + "/one.csv"});
        QVERIFY2(one.exitCode == 0, one.err.constData());
        QVERIFY2(one.out.contains(" Nothing to compare with: the first run of these states, source, class table and area."),
                 one.out.constData());
        QCOMPARE(readAll(out.path() + "/one.csv"), QByteArray("feature_id,kind,old,new\r\n"));

        QVERIFY(putFile(archive, domesticNamesArchive("RI", second)));
        // Changes that cannot be written fail the run, and are not lost: the next run finds them again.
        const ToolRun lost = convert(args + QStringList{"--changes", out.path() + "/no such folder/two.csv"});
        QCOMPARE(lost.exitCode, 1);
        QVERIFY2(lost.err.contains("/gnis.gpx was made, but the changes were not written: "), lost.err.constData());
        const ToolRun two = convert(args + QStringList{"--changes", out.path() + "/two.csv"});
        QVERIFY2(two.exitCode == 0, two.err.constData());
        QVERIFY2(two.out.contains(" Since " + today.toUtf8() + ": 2 new, 2 removed, 1 renamed, 1 moved, 1 class changed."),
                 two.out.constData());
        QCOMPARE(readAll(out.path() + "/two.csv"), QByteArray("feature_id,kind,old,new\r\n"
                                                              "1217463,removed,South Scituate (historical),\r\n"
                                                              "1217464,removed,Galilee,\r\n"
                                                              "1217473,renamed,Beach Plum Hill,Beach Plum Hills\r\n"
                                                              "1217479,moved,41.2158277 -71.5666364,41.2258277 -71.5666364\r\n"
                                                              "1217499,class changed,Summit,Ridge\r\n"
                                                              "9000001,new,,New Hill One\r\n"
                                                              "9000002,new,,New Hill Two\r\n"));
        // Another format of the same kind compares with that run; another area is a kind of its own.
        const ToolRun mp = convert(QStringList{"mp"} + args.mid(1));
        QVERIFY2(mp.out.contains(" Since " + today.toUtf8() + ": 0 new, 0 removed, 0 renamed, 0 moved."), mp.out.constData());
        const ToolRun area = convert(args + QStringList{"--county", "Washington"});
        QVERIFY2(area.out.contains(" Nothing to compare with:"), area.out.constData());
        // Without the cache nothing is recorded, so the changes cannot be asked for.
        const ToolRun noCache = convert(args + QStringList{"--no-cache", "--changes", out.path() + "/x.csv"});
        QCOMPARE(noCache.exitCode, 2);
        QVERIFY(noCache.err.contains("--changes needs the download cache"));
    }

    void interruptIsACancel_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("waitFor"); // the status text of the stage to interrupt
        QTest::addColumn<int>("signal");
        QTest::newRow("download, SIGINT") << "gpx" << "Downloading GNIS Zip File" << SIGINT;
        QTest::newRow("conversion, SIGTERM") << "gpx" << "Creating GNIS GPX File" << SIGTERM;
        QTest::newRow("ogr2ogr, SIGHUP") << "shp" << "Converting To Shapefile" << SIGHUP;
        QTest::newRow("shp2pgsql into psql, SIGTERM") << "process" << "Loading The Shapefile Into The Database" << SIGTERM;
        QTest::newRow("pgsql2shp, SIGINT") << "process" << "Creating New Shapefile" << SIGINT;
        QTest::newRow("mkgmap, SIGTERM") << "garmin" << "Compiling Garmin Map" << SIGTERM;
        // Started under nohup, SIGHUP was ignored before the program began: it stays ignored.
        QTest::newRow("conversion, SIGHUP under nohup") << "gpx" << "Creating GNIS GPX File" << -SIGHUP;
    }
    void interruptIsACancel() {
        QFETCH(QString, command);
        QFETCH(QString, waitFor);
        QFETCH(int, signal);
        const bool ignored = signal < 0;
        signal = std::abs(signal);
        QTemporaryDir out, tools, in;
        writeAll(out.path() + "/notes.txt", "the user's");
        writeAll(out.path() + "/gnis.gpx", "an older gpx");
        writeAll(out.path() + "/gnis.shp", "an older shapefile");
        for (const char* tool : {"ogr2ogr", "shp2pgsql", "psql", "pgsql2shp", "mkgmap"}) {
            writeAll(tools.path() + "/" + tool, kSlowTool);
            QFile::setPermissions(tools.path() + "/" + tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        const QString pids = in.path() + "/pids";
        qputenv("STANDIN_PIDS", pids.toUtf8());
        const QByteArray slow = waitFor.startsWith("Converting") ? "ogr2ogr"
                                : waitFor.startsWith("Loading")  ? "shp2pgsql"
                                : waitFor.startsWith("Creating New") ? "pgsql2shp"
                                                                     : "mkgmap";
        qputenv("STANDIN_SLOW", slow);
        QStringList args{command, "--output", out.path(), "--fwtools", tools.path(), "--mkgmap", tools.path(),
                         "--postgis", tools.path(), "--database", "nowhere"};
        if (command == "process")
            args = args.mid(0, 3) + args.mid(7);
        else if (command == "shp")
            args = args.mid(0, 5);
        else if (command == "gpx")
            args = args.mid(0, 3);
        else if (command == "garmin")
            args = args.mid(0, 3) + args.mid(5, 2);
        QMap<QString, QByteArray> before = snapshot(out.path());
        // The download crawls; the conversion has a large text to work through.
        HttpTestServer server(sourceDir() + "/data/mirror");
        if (waitFor.startsWith("Downloading")) {
            args << "--state" << "MA" << "--server" << server.base("drip");
        } else if (command != "process") {
            QByteArray text = kText.left(kText.indexOf("\r\n") + 2);
            const QByteArray row = "|Peak|Summit|MA|25|B|003|x|y|42.1|-73.1|||||100|Map||\r\n";
            text.reserve(2000000 * 60);
            for (int i = 1; i <= (waitFor.startsWith("Creating") ? 2000000 : 10); ++i)
                text += QByteArray::number(i) + row;
            writeAll(in.path() + "/big.txt", text);
            args << "--input" << in.path() + "/big.txt";
        }
        QProcess p;
        if (ignored)
            p.setChildProcessModifier([] { std::signal(SIGHUP, SIG_IGN); });
        QEventLoop loop;
        QByteArray said;
        bool sent = false; // once: a second one would end the program outright, as meant
        QObject::connect(&p, &QProcess::readyReadStandardError, &loop, [&] {
            said += p.readAllStandardError();
            if (!sent && said.contains(waitFor.toUtf8()) && p.processId() > 0)
                sent = ::kill(static_cast<pid_t>(p.processId()), signal) == 0;
        });
        QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        p.start(QStringLiteral(GNIS_CONVERT), args);
        loop.exec();
        said += p.readAllStandardError();
        QVERIFY2(p.state() == QProcess::NotRunning && said.contains(waitFor.toUtf8()), said.constData());
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        if (ignored) {
            QCOMPARE(p.exitCode(), 0);
            QCOMPARE(readAll(out.path() + "/gnis.gpx").count("<wpt "), 2000000);
            return;
        }
        QCOMPARE(p.exitCode(), 128 + signal);
        QVERIFY2(said.contains("gnis-convert: GNIS Cancelled."), said.constData());
        QCOMPARE(snapshot(out.path()), before); // no temporary file, scratch folder or lock left, nothing replaced
        // No tool of the run, nor anything a tool started, outlives it.
        for (const QByteArray& pid : readAll(pids).split('\n')) {
            if (!pid.isEmpty())
                QTRY_VERIFY2(!QFileInfo::exists("/proc/" + pid), pid.constData());
        }
    }

    void progressOnATerminalOnly_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("shown");
        QTest::newRow("on a terminal") << "terminal" << true;
        QTest::newRow("on a terminal, --quiet") << "quiet" << false;
        QTest::newRow("through a pipe") << "pipe" << false;
    }
    void progressOnATerminalOnly() {
        // An outside tool that works for two seconds: its name and seconds, on a terminal only.
        QFETCH(QString, how);
        QFETCH(bool, shown);
        QTemporaryDir out, tools;
        writeAll(tools.path() + "/ogr2ogr", "#!/bin/sh\nsleep 2.5\nexit 3\n");
        QFile::setPermissions(tools.path() + "/ogr2ogr", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        writeAll(out.path() + "/input.txt", kText);
        QStringList args{"shp", "--input", out.path() + "/input.txt", "--output", out.path(), "--fwtools", tools.path()};
        if (how == "quiet")
            args << "--quiet";
        QByteArray said;
        if (how == "pipe") {
            said = convert(args).err;
        } else { // script(1) gives the program a pseudo-terminal
            QStringList quoted;
            for (const QString& a : QStringList{QStringLiteral(GNIS_CONVERT)} + args)
                quoted << "'" + a + "'";
            said = runTool("script", {"-qec", quoted.join(' '), "/dev/null"}).out;
        }
        QVERIFY2(said.contains("ogr2ogr failed"), said.constData());
        QCOMPARE(said.contains("ogr2ogr, 1 s") && said.contains("\r"), shown);
        QVERIFY(shown || !said.contains("\x1b["));
    }

    void extract_data() {
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("topLevel"); // what out/d.txt holds afterwards
        QTest::newRow("keeps folders, replaces") << QStringList{} << 0 << QStringList{"d.txt", "x/d.txt", "y/d.txt"}
                                                 << "Extraction Complete" << QByteArray("old");
        QTest::newRow("flat, replaces") << QStringList{"--flat"} << 0 << QStringList{"d.txt"} << "Extracting .../d.txt"
                                        << QByteArray("y");
        QTest::newRow("flat, keeps existing") << QStringList{"--flat", "--keep-existing"} << 1
                                              << QStringList{"d.txt"} << "error 11: The file" << QByteArray("old");
        QTest::newRow("over the size limit") << QStringList{"--max-size", "1"} << 1 << QStringList{"d.txt"}
                                             << "would unpack to 2097154 bytes, more than the 1048576 allowed" << QByteArray("old");
    }
    void extract() {
        QFETCH(QStringList, flags);
        QFETCH(int, exitCode);
        QFETCH(QStringList, files);
        QFETCH(QString, message);
        QFETCH(QByteArray, topLevel);
        QTemporaryDir dir;
        Archive a;
        a.members << Member{"x/d.txt", "x"} << Member{"y/d.txt", "y"};
        if (flags.contains("--max-size"))
            a.members << Member{"zeros.bin", QByteArray(2 << 20, '\0')};
        writeAll(dir.path() + "/a.zip", a.bytes());
        QDir().mkpath(dir.path() + "/out");
        writeAll(dir.path() + "/out/d.txt", "old");
        const ToolRun run = convert(QStringList{"extract", dir.path() + "/a.zip", "--output", dir.path() + "/out"} + flags);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(QString::fromUtf8(run.err).contains(message), run.err.constData());
        QVERIFY(run.err.contains("100%") || flags.contains("--max-size")); // a refused archive is not walked
        QStringList found;
        QDirIterator it(dir.path() + "/out", QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << QDir(dir.path() + "/out").relativeFilePath(it.next());
        found.sort();
        QCOMPARE(found, files);
        QCOMPARE(readAll(dir.path() + "/out/d.txt"), topLevel);
    }

};

GNIS_TEST_CLASS(GnisConvertTest)
#include "test_gnis_convert.moc"
