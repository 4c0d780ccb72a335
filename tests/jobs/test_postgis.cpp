// RunAndWait, the shapefile stage with real ogr2ogr, and the PostGIS round trip
// against the private PostgreSQL cluster that scripts/pg-start.sh starts.

#include "jobs/create_gpx.h"
#include "jobs/create_shp.h"
#include "http_test_server.h"
#include "jobs/process_postgis.h"
#include "formats/result_points.h"
#include "jobs/run_job.h"
#include "gazetteer/states.h"
#include "platform/run_and_wait.h"
#include "test_main.h"
#include "test_support.h"
#include "zip_builder.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>

using namespace gnis;
using namespace testsupport;

namespace {


const QByteArray kHeader =
    "FEATURE_ID|FEATURE_NAME|FEATURE_CLASS|STATE_ALPHA|STATE_NUMERIC|COUNTY_NAME|COUNTY_NUMERIC|PRIMARY_LAT_DMS|"
    "PRIM_LONG_DMS|PRIM_LAT_DEC|PRIM_LONG_DEC|SOURCE_LAT_DMS|SOURCE_LONG_DMS|SOURCE_LAT_DEC|SOURCE_LONG_DEC|"
    "ELEVATION|MAP_NAME|DATE_CREATED|DATE_EDITED\r\n";

QByteArray smallText() {
    return kHeader +
           "1|Mount Greylock|Summit|MA|25|B|003|x|y|42.6375821|-73.1662155|||||1063|Williamstown||\r\n"
           "2|  Quabbin Dam |Dam|MA|25|B|003|x|y|42.28|-72.34|||||160|Winsor Dam||\r\n"
           "3|Quabbin Dam|Dam|MA|25|B|003|x|y|42.28|-72.34|||||160|Winsor Dam||\r\n";
}

// name|type of every feature of a shapefile, read back with ogr2ogr.
QStringList shapefileFeatures(const QString& shp) {
    const ToolRun r = runTool("ogr2ogr", {"-f", "CSV", "/vsistdout/", shp, "-select", "name,type", "-lco", "SEPARATOR=TAB"});
    QStringList rows = QString::fromUtf8(r.out).split("\n", Qt::SkipEmptyParts);
    if (!rows.isEmpty())
        rows.removeFirst(); // header
    for (QString& row : rows) {
        QStringList fields = row.split('\t');
        for (QString& f : fields) {
            if (f.endsWith(QChar(13)))
                f.chop(1);
            if (f.size() >= 2 && f.startsWith('"') && f.endsWith('"'))
                f = f.mid(1, f.size() - 2).replace("\"\"", "\"");
        }
        row = fields.join('|');
    }
    return rows;
}

// A shapefile's columns as "name type width", from its .dbf header.
QStringList dbfColumns(const QString& dbf) {
    const QByteArray b = readAll(dbf);
    QStringList columns;
    for (qsizetype at = 32; at + 32 <= b.size() && b[at] != '\r'; at += 32)
        columns << QString::fromLatin1(b.mid(at, 11).constData()) + " " + QChar(b[at + 11]) + " " +
                       QString::number(quint8(b[at + 16]));
    return columns;
}

// name|type of every waypoint of a GPX file, with the entities undone.
QStringList gpxFeatures(const QByteArray& gpx) {
    QStringList rows;
    static const QRegularExpression wpt("<name>(.*?)</name>.*?<type>(.*?)</type>", QRegularExpression::DotMatchesEverythingOption);
    for (auto it = wpt.globalMatch(QString::fromUtf8(gpx)); it.hasNext();) {
        const auto m = it.next();
        QString name = m.captured(1);
        name.replace("&quot;", "\"").replace("&lt;", "<").replace("&gt;", ">").replace("&amp;", "&");
        rows << name.trimmed() + "|" + m.captured(2);
    }
    return rows;
}

} // namespace

class PostgisTest : public QObject {
    Q_OBJECT
    QTemporaryDir config_;
    JobSettings db_; // the connection to the private cluster
    bool haveDatabase_ = false;

    // Fails under CI, skips elsewhere, when the private cluster is not running.
    bool requireDatabase() {
        if (haveDatabase_)
            return true;
        const QString why = "no private PostgreSQL cluster (scripts/pg-start.sh sets GNIS_PG_*)";
        if (underCi())
            QTest::qFail(qPrintable(why), __FILE__, __LINE__);
        else
            QTest::qSkip(qPrintable(why), __FILE__, __LINE__);
        return false;
    }
    QString psql(const QString& sql, const JobSettings& s) {
        qputenv("PGPASSWORD", QByteArray::fromStdString(s.password));
        const ToolRun r = runTool("psql", {"-X", "-w", "-A", "-t", "-h", QString::fromStdString(s.host), "-U",
                                           QString::fromStdString(s.user), "-d", QString::fromStdString(s.database),
                                           "-c", sql});
        qunsetenv("PGPASSWORD");
        return QString::fromUtf8(r.out + r.err).trimmed();
    }
    JobSettings job(const QString& out) const {
        JobSettings s = db_;
        s.outputFolder = fsPath(out);
        s.states = {FindState("MA")};
        s.processingScript = fsPath(sourceDir() + "/data/gnis.sql");
        return s;
    }
    // A small shapefile made through the real stage, as "GNIS --> SHP" leaves it.
    JobOutcome makeShapefile(const QString& out, const QByteArray& text = smallText()) {
        QTemporaryDir in;
        Archive a;
        a.members << Member{"MA_Features_20090401.txt", text};
        writeAll(in.path() + "/ma.zip", a.bytes());
        JobSettings s = job(out);
        s.inputArchive = fsPath(in.path() + "/ma.zip");
        Recorder rec;
        const JobOutcome made = RunJob(Job::Shp, s, rec);
        [&] { QVERIFY2(made.ok, made.text.c_str()); }();
        return made;
    }

private slots:
    void initTestCase() {
        isolateConfiguration(config_.path());
        const QByteArray port = qgetenv("GNIS_PG_PORT");
        haveDatabase_ = !port.isEmpty();
        qputenv("PGPORT", port);
        db_.host = qEnvironmentVariable("GNIS_PG_HOST").toStdString();
        db_.database = qEnvironmentVariable("GNIS_PG_DATABASE").toStdString();
        db_.user = qEnvironmentVariable("GNIS_PG_USER").toStdString();
        db_.password = qEnvironmentVariable("GNIS_PG_PASSWORD").toStdString();
        qunsetenv("PGPASSWORD"); // the stages must hand it over themselves
    }

    void runAndWait() {
        REQUIRE_TOOL("python3");
        const std::string echo = "import sys; print('\\n'.join(sys.argv[1:])); print(sys.stdin.read() == '')";
        RunResult r = RunAndWait("python3", {"-c", echo, "two words", "\"quoted\"", "it's", "a;b|c", ""});
        QVERIFY(r.succeeded());
        QCOMPARE(QString::fromStdString(r.output), QString("two words\n\"quoted\"\nit's\na;b|c\n\nTrue\n"));

        r = RunAndWait("python3", {"-c", "import sys; print('partial'); sys.stderr.write('first\\nthe reason\\n'); sys.exit(3)"});
        QVERIFY(r.started && !r.succeeded());
        QCOMPARE(r.lastErrorLine(), std::string("the reason"));

        // The event loop keeps running while a tool works, so windows repaint; a cancel ends the tool at once.
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(50);
        RunOptions cancelling;
        cancelling.cancelled = [&] { return ticks >= 8; };
        r = RunAndWait("python3", {"-c", "import time; time.sleep(60)"}, cancelling);
        QVERIFY(r.cancelled && !r.succeeded());
        QVERIFY2(ticks < 200, qPrintable(QString::number(ticks)));

        r = RunAndWait("/nonexistent/tool", {});
        QVERIFY(!r.started && !r.startError.empty());

        // A consumer that fails breaks its producer's pipe: the consumer's own error is the one reported.
        const std::vector<RunResult> piped = RunPipeline(
            {{"yes", {}}, {"sh", {"-c", "exec 0<&-; sleep 0.3; echo 'the reason' >&2; exit 3"}}});
        QVERIFY(piped[0].stoppedByOther && !piped[1].stoppedByOther);
        QCOMPARE(piped[1].lastErrorLine(), std::string("the reason"));
    }

    void shapefileFromGpx() {
        REQUIRE_TOOL("ogr2ogr");
        QTemporaryDir out;
        writeAll(out.path() + "/MA_DECI.txt", "the user's"); // nothing is unpacked, so such a file is the user's
        writeAll(out.path() + "/HI_DECI.txt", "the user's");
        // Layer sets in the folder are the user's own: the converter writes into a scratch folder.
        for (const char* ext : {".shp", ".dbf", ".prj", ".shx"})
            writeAll(out.path() + "/routes" + ext, "the user's layer");
        writeAll(out.path() + "/gnis.gpx", "the user's waypoints"); // the shapefile's waypoints are made elsewhere
        makeShapefile(out.path());
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"gnis.cpg", "gnis.dbf", "gnis.gpx", "gnis.prj", "gnis.shp", "gnis.shx", "HI_DECI.txt",
                              "MA_DECI.txt", "routes.dbf", "routes.prj", "routes.shp", "routes.shx"}));
        QCOMPARE(readAll(out.path() + "/routes.shp"), QByteArray("the user's layer"));
        QCOMPARE(readAll(out.path() + "/gnis.gpx"), QByteArray("the user's waypoints"));
        // The result window reads the points and their type back from the shapefile.
        const ResultPoints back = ReadShapefilePoints(fsPath(out.path() + "/gnis.shp"));
        QCOMPARE(back.size(), std::size_t(3));
        QCOMPARE(back.types.size(), std::size_t(2));
        QCOMPARE(back.types[1].code + " " + back.types[1].label, std::string("0x5500 Dam"));
        QCOMPARE(back.types[1].count, 2);
        QCOMPARE(std::pair(back.lon[0], back.lat[0]), std::pair(-73.1662155f, 42.6375821f));
        QCOMPARE(shapefileFeatures(out.path() + "/gnis.shp"),
                 (QStringList{"Mount Greylock, 3488|0x6616", "Quabbin Dam|0x5500", "Quabbin Dam|0x5500"}));
        QCOMPARE(readAll(out.path() + "/gnis.cpg").trimmed(), QByteArray("UTF-8"));
        // Only the fields that carry data, each as wide as its widest value.
        QCOMPARE(dbfColumns(out.path() + "/gnis.dbf"), (QStringList{"name C 20", "desc C 6", "src C 22", "type C 6", "ele N 4"}));
        makeShapefile(out.path()); // a second run replaces the first

        // A name of 300 bytes of two-byte letters is cut before the converter sees
        // it, at a letter's start, and the cut is counted.
        const QByteArray longName = "a" + QString(150, QChar(0x142)).toUtf8(); // byte 254 is inside a letter
        const JobOutcome cut = makeShapefile(out.path(), kHeader + "1|" + longName +
                                                             "|Summit|MA|25|B|003|x|y|42.6|-73.1|||||||||\r\n");
        QCOMPARE(shapefileFeatures(out.path() + "/gnis.shp"), QStringList{"a" + QString(126, QChar(0x142)) + "|0x6616"});
        QCOMPARE(cut.stats.cutFields, 1);
        QVERIFY(QString::fromStdString(cut.stats.countsText()).contains("1 values cut to the shapefile's 254 bytes"));
    }

    void gisFiles_data() {
        QTest::addColumn<int>("job");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("idType"); // as the file declares it (GeoJSON's reader guesses from the values)
        QTest::newRow("GeoPackage") << int(Job::Gpkg) << "gnis.gpkg" << "Integer64";
        QTest::newRow("GeoJSON") << int(Job::GeoJson) << "gnis.geojson" << "Integer";
    }
    void gisFiles() {
        QFETCH(int, job);
        QFETCH(QString, name);
        QFETCH(QString, idType);
        REQUIRE_TOOL("ogr2ogr");
        REQUIRE_TOOL("ogrinfo");
        QTemporaryDir out, in, elsewhere;
        // Today's layout: lower-case header, the state by name. A name with
        // letters past Latin-1 and one with a comma and quotes; a feature twice.
        writeAll(in.path() + "/hi.txt",
                 "\xEF\xBB\xBF" "feature_id|feature_name|feature_class|state_name|state_numeric|county_name|county_numeric|"
                 "map_name|date_created|date_edited|bgn_type|bgn_authority|bgn_date|prim_lat_dms|prim_long_dms|"
                 "prim_lat_dec|prim_long_dec|source_lat_dms|source_long_dms|source_lat_dec|source_long_dec|elev_in_m\r\n"
                 "358296|Hāʻeleʻele Ridge|Ridge|Hawaii|15|Kauai|007|Kekaha||||||x|y|22.0861915|-159.6872204|||||120\r\n"
                 "42|Smith's \"Big\" Hill, North|Summit|Hawaii|15|Maui|009|Lahaina||||||x|y|20.123456789|-156.6|||||\r\n"
                 "358296|Hāʻeleʻele Ridge|Ridge|Hawaii|15|Kauai|007|Kekaha||||||x|y|22.0861915|-159.6872204|||||120\r\n");
        // The name is a link to a file of the user's elsewhere: replaced, never written through.
        writeAll(elsewhere.path() + "/mine", "the user's file");
        QVERIFY(QFile::link(elsewhere.path() + "/mine", out.path() + "/" + name));
        JobSettings s;
        s.outputFolder = fsPath(out.path());
        s.inputText = fsPath(in.path() + "/hi.txt");

        // Without ogr2ogr nothing is replaced.
        s.fwToolsFolder = "/nonexistent";
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", "/nonexistent");
        Recorder rec;
        const JobOutcome missing = RunJob(Job(job), s, rec);
        qputenv("PATH", path);
        QVERIFY(!missing.ok && missing.toolMissing);
        QCOMPARE(filesIn(out.path()), QStringList{name});
        QVERIFY(QFileInfo(out.path() + "/" + name).isSymLink());

        s.fwToolsFolder.clear();
        const JobOutcome made = RunJob(Job(job), s, rec);
        QVERIFY2(made.ok, made.text.c_str());
        QCOMPARE(made.made, std::vector<std::filesystem::path>{fsPath(out.path() + "/" + name)});
        QCOMPARE(made.stats.duplicates, 1);
        QCOMPARE(filesIn(out.path()), QStringList{name});
        QVERIFY(!QFileInfo(out.path() + "/" + name).isSymLink());
        QCOMPARE(readAll(elsewhere.path() + "/mine"), QByteArray("the user's file"));

        const ToolRun info = runTool("ogrinfo", {"-so", "-al", out.path() + "/" + name});
        const QString summary = QString::fromUtf8(info.out);
        QVERIFY2(summary.contains("Layer name: gnis") && summary.contains("Feature Count: 2") &&
                     summary.contains("ID[\"EPSG\",4326]"), info.out.constData());
        QRegularExpression field("^(\\w+): (String|Integer|Integer64|Real) \\(", QRegularExpression::MultilineOption);
        QStringList fields;
        for (auto m = field.globalMatch(summary); m.hasNext();) {
            const auto f = m.next();
            fields << f.captured(1) + " " + f.captured(2);
        }
        QCOMPARE(fields, (QStringList{"name String", "desc String", "src String", "type String", "ele Integer",
                                      "feature_id " + idType, "county String", "state String"}));
        const ToolRun rows = runTool("ogr2ogr", {"-f", "CSV", "/vsistdout/", out.path() + "/" + name, "-lco",
                                                 "GEOMETRY=AS_XY", "-lco", "SEPARATOR=TAB", "-lco",
                                                 "STRING_QUOTING=IF_NEEDED"});
        QCOMPARE(QString::fromUtf8(rows.out).remove('\r').split('\n', Qt::SkipEmptyParts),
                 (QStringList{"X\tY\tname\tdesc\tsrc\ttype\tele\tfeature_id\tcounty\tstate",
                              "-159.6872204\t22.0861915\tHāʻeleʻele Ridge\tRidge\tUSGS GNIS Kekaha\t0x6613\t394\t358296\tKauai\tHawaii",
                              "-156.6\t20.123456789\t\"Smith's \"\"Big\"\" Hill, North\"\tSummit\tUSGS GNIS Lahaina\t0x6616\t\t42\tMaui\tHawaii"}));
    }

    // The area, the user's class table and de-duplication decide alike for every
    // format: the same counts, and the product holds the same features.
    void sameRulesInEveryFormat_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("product");
        QTest::newRow("GPX") << int(Job::Gpx) << "gnis.gpx";
        QTest::newRow("Polish map") << int(Job::Mp) << "gnis.mp";
        QTest::newRow("Garmin map") << int(Job::Garmin) << "gmapsupp.img";
        QTest::newRow("shapefile") << int(Job::Shp) << "gnis.shp";
        QTest::newRow("GeoPackage") << int(Job::Gpkg) << "gnis.gpkg";
        QTest::newRow("GeoJSON") << int(Job::GeoJson) << "gnis.geojson";
    }
    void sameRulesInEveryFormat() {
        QFETCH(int, kind);
        QFETCH(QString, product);
        REQUIRE_TOOL(kind == int(Job::Garmin) ? "mkgmap" : "ogr2ogr");
        QTemporaryDir out, in;
        writeAll(in.path() + "/classes.txt", "Summit 0x6616\nLake 0x650D\nPopulated Place -\nReservoir 0x650F\n");
        writeAll(in.path() + "/ma.txt", kHeader +
                 "1|Mount Greylock|Summit|MA|25|Berkshire|003|x|y|42.6375821|-73.1662155|||||1063|Williamstown||\r\n"
                 "2|Onota Lake|Lake|MA|25|Berkshire|003|x|y|42.47|-73.28|||||||Pittsfield West||\r\n"
                 "3|Pittsfield|Populated Place|MA|25|Berkshire|003|x|y|42.45|-73.25|||||||Pittsfield East||\r\n"
                 "4|Quabbin Reservoir|Reservoir|MA|25|Hampshire|015|x|y|42.38|-72.28|||||||Quabbin||\r\n"
                 "5|Boston Common|Park|MA|25|Suffolk|025|x|y|42.355|-71.066|||||||Boston South||\r\n"
                 "1|Mount Greylock|Summit|MA|25|Berkshire|003|x|y|42.6375821|-73.1662155|||||1063|Williamstown||\r\n"
                 "6|Berkshire Summit of NY|Summit|NY|36|Berkshire|003|x|y|42.2|-73.6|||||||Copake||\r\n");
        JobSettings s = job(out.path());
        s.inputText = fsPath(in.path() + "/ma.txt");
        s.classTable = fsPath(in.path() + "/classes.txt");
        QVERIFY(s.area.setCounties("berkshire MA"));
        Recorder rec;
        const JobOutcome made = RunJob(Job(kind), s, rec);
        QVERIFY2(made.ok, made.text.c_str());
        QCOMPARE(QString::fromStdString(made.stats.countsText()),
                 QString("2 waypoints written from 7 records; 2 left out by the class table (Park 1, Populated Place 1); "
                         "2 outside the area; 1 duplicates skipped; 0 skipped as malformed"));
        const QString file = out.path() + "/" + product;
        int features = -1;
        if (kind == int(Job::Gpx))
            features = int(readAll(file).count("<wpt "));
        else if (kind == int(Job::Mp))
            features = int(readAll(file).count("[POI]"));
        else if (kind == int(Job::Garmin)) { // the map named after its area and state, holding what it keeps
            const QByteArray image = readAll(file);
            QVERIFY2(QString::fromStdString(made.summary).contains("\"GNIS MA Berkshire MA\" made from 2 waypoints"), made.summary.c_str());
            QVERIFY(!image.contains("Quabbin") && !image.contains("Pittsfield") && !image.contains("Berkshire Summit of NY"));
            features = int(image.contains("Mount Greylock")) + int(image.contains("Onota Lake"));
        }
        else
            features = QRegularExpression("Feature Count: (\\d+)")
                           .match(QString::fromUtf8(runTool("ogrinfo", {"-so", "-al", file}).out))
                           .captured(1)
                           .toInt();
        QCOMPARE(features, 2);
    }

    void shapefileFailures_data() {
        QTest::addColumn<QString>("fwtools");
        QTest::addColumn<QByteArray>("gpx");
        QTest::addColumn<QString>("message");
        QTest::newRow("tool neither in its folder nor on PATH")
            << "/nonexistent" << QByteArray("<gpx/>") << "GNIS ERROR: ogr2ogr not found in /nonexistent or on PATH";
        QTest::newRow("damaged gnis.gpx") << "" << QByteArray("<gpx><wpt lat=")
                                          << "GNIS ERROR: ogr2ogr failed: Unable to open datasource `"; // not GDAL's driver list
        QTest::newRow("no gnis.gpx") << "" << QByteArray() << "GNIS ERROR: No gpx file exists";
    }
    void shapefileFailures() {
        QFETCH(QString, fwtools);
        QFETCH(QByteArray, gpx);
        QFETCH(QString, message);
        REQUIRE_TOOL("ogr2ogr");
        QTemporaryDir out;
        makeShapefile(out.path());
        const QByteArray before = readAll(out.path() + "/gnis.shp");
        if (!gpx.isNull())
            writeAll(out.path() + "/gnis.gpx", gpx);
        JobSettings s = job(out.path());
        s.fwToolsFolder = fsPath(fwtools);
        Recorder rec;
        const QByteArray path = qgetenv("PATH");
        if (!fwtools.isEmpty())
            qputenv("PATH", "/nonexistent");
        const Outcome converted = ConvertGnisGpxToShp(s, rec);
        qputenv("PATH", path);
        QVERIFY(!converted);
        QVERIFY2(("GNIS ERROR: " + QString::fromStdString(converted.error())).startsWith(message), converted.error().c_str());
        QVERIFY(!rec.milestones.contains("GNIS: Shp file created"));
        QCOMPARE(readAll(out.path() + "/gnis.shp"), before);
        QCOMPARE(readAll(out.path() + "/gnis.gpx"), gpx); // not this run's, and all the user has after a failure
    }

    void oneRunPerTable() {
        // Another run holds the table from its load to its export: this one stops
        // at once and neither loads over that table nor exports it.
        REQUIRE_TOOL("ogr2ogr");
        if (!requireDatabase())
            return;
        QTemporaryDir out;
        makeShapefile(out.path());
        const QByteArray shp = readAll(out.path() + "/gnis.shp");
        psql("DROP TABLE IF EXISTS gnis; CREATE TABLE gnis (marker text); INSERT INTO gnis VALUES ('the other run')", db_);
        HeldProcess other;
        RunOptions env;
        env.environment["PGPASSWORD"] = db_.password;
        other.start("psql", {"-X", "-w", "-A", "-t", "-h", db_.host, "-U", db_.user, "-d", db_.database}, env);
        QCOMPARE(other.ask("SELECT pg_try_advisory_lock(hashtext('trailcrafter-gnis table gnis'));", 20000),
                 std::optional<std::string>("t"));
        Recorder rec;
        const JobOutcome r = RunJob(Job::Process, job(out.path()), rec);
        QCOMPARE(QString::fromStdString(r.text), "GNIS ERROR: another run is using the table gnis in the database " +
                                                     QString::fromStdString(db_.database) + "; try again when it has finished");
        QCOMPARE(psql("SELECT marker FROM gnis", db_), QString("the other run"));
        QCOMPARE(readAll(out.path() + "/gnis.shp"), shp);
    }

    void cancelUndoesTheWholeJob_data() {
        QTest::addColumn<QString>("stage"); // the status text during which the user cancels
        QTest::addColumn<QString>("slow");  // the tool made slow for it, or the processing script
        QTest::newRow("the shapefile") << "Converting To Shapefile" << "ogr2ogr";
        QTest::newRow("the load") << "Loading The Shapefile Into The Database" << "shp2pgsql";
        QTest::newRow("the processing script") << "Processing Data" << "gnis.sql";
        QTest::newRow("the export") << "Creating New Shapefile" << "pgsql2shp";
    }
    void cancelUndoesTheWholeJob() {
        QFETCH(QString, stage);
        QFETCH(QString, slow);
        REQUIRE_TOOL("ogr2ogr");
        if (!requireDatabase())
            return;
        QTemporaryDir out, tools, in;
        makeShapefile(out.path()); // an earlier run's
        writeAll(out.path() + "/notes.txt", "the user's");
        QMap<QString, QByteArray> before;
        for (const QString& name : QDir(out.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
            before[name] = readAll(out.path() + "/" + name);
        psql("DROP TABLE IF EXISTS gnis; CREATE TABLE gnis (marker text); INSERT INTO gnis VALUES ('the table before')", db_);
        JobSettings s = job(out.path());
        Archive a;
        a.members << Member{"MA_Features_20090401.txt", smallText()};
        writeAll(in.path() + "/ma.zip", a.bytes());
        s.inputArchive = fsPath(in.path() + "/ma.zip");
        // The slow one: a stand-in that waits (the other tools are the real ones on PATH), or a script that sleeps.
        if (slow == "gnis.sql") {
            writeAll(in.path() + "/slow.sql", "SELECT pg_sleep(30);\n");
            s.processingScript = fsPath(in.path() + "/slow.sql");
        } else {
            writeAll(tools.path() + "/" + slow, "#!/bin/sh\nexec sleep 30\n");
            QFile::setPermissions(tools.path() + "/" + slow, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            (slow == "ogr2ogr" ? s.fwToolsFolder : s.postgisFolder) = fsPath(tools.path());
        }
        struct Canceller : Recorder {
            QString at;
            bool cancelRequested() override { return status.contains(at); }
        } rec;
        rec.at = stage;
        const JobOutcome cancelled = RunJob(Job::All, s, rec);
        QVERIFY2(rec.status.contains(stage), qPrintable(rec.status.join(" | ")));
        QCOMPARE(QString::fromStdString(cancelled.text), "GNIS Cancelled. Nothing in " + out.path() + " was changed.");
        QMap<QString, QByteArray> after;
        for (const QString& name : QDir(out.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
            after[name] = readAll(out.path() + "/" + name);
        QCOMPARE(after, before);
        QCOMPARE(psql("SELECT marker FROM gnis", db_), QString("the table before"));
        QCOMPARE(psql("SELECT count(*) FROM pg_tables WHERE tablename = 'gnis_previous'", db_), QString("0"));
    }

    void roundTrip() {
        REQUIRE_TOOL("ogr2ogr");
        if (!requireDatabase())
            return;
        QTemporaryDir out;
        makeShapefile(out.path());
        writeAll(out.path() + "/gnis.sql", "-- the user's own script"); // the load script's name, but not this run's
        psql("DROP TABLE IF EXISTS gnis", db_); // the first load into a fresh database
        psql("CREATE TABLE IF NOT EXISTS gnis_load (gid int)", db_); // left by a load that was cut off
        for (int run = 0; run < 2; ++run) {
            Recorder rec;
            const JobOutcome processed = RunJob(Job::Process, job(out.path()), rec);
            QVERIFY2(processed.ok, processed.text.c_str());
            QCOMPARE(processed.text, std::string("GNIS SHP file processed."));
            // What the result window shows is the processed table's, not a conversion's.
            QVERIFY(!processed.showCounts);
            QCOMPARE(ReadPoints(processed.made.at(0)).size(), std::size_t(2));
            QCOMPARE(rec.status, (QStringList{"Processing GNIS SHP File", "Connecting To The Database",
                                              "Loading The Shapefile Into The Database",
                                              "Processing Data", "Creating New Shapefile"}));
            QCOMPARE(rec.milestones, (QStringList{"Data Loaded Into Database", "Data Processed",
                                             "Data Extracted"}));
        }
        // The exact duplicate gone; field names kept as ogr2ogr wrote them.
        QCOMPARE(shapefileFeatures(out.path() + "/gnis.shp"),
                 (QStringList{"Mount Greylock, 3488|0x6616", "Quabbin Dam|0x5500"}));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"gnis.cpg", "gnis.dbf", "gnis.prj", "gnis.shp", "gnis.shx", "gnis.sql"}));
        QCOMPARE(dbfColumns(out.path() + "/gnis.dbf"), (QStringList{"name C 20", "desc C 6", "src C 22", "type C 6", "ele N 11"}));
        QCOMPARE(readAll(out.path() + "/gnis.sql"), QByteArray("-- the user's own script"));
        QCOMPARE(psql("SELECT Find_SRID('public', 'gnis', 'geom')", db_), QString("4326"));
        QCOMPARE(psql("SELECT count(*) FROM pg_indexes WHERE indexname = 'gnis_geom_idx'", db_), QString("1"));
        // The processing script a second time changes nothing.
        const QString digest = "SELECT md5(string_agg(gid || name || ST_AsText(geom), ',' ORDER BY gid)) FROM gnis";
        const QString before = psql(digest, db_);
        qputenv("PGPASSWORD", QByteArray::fromStdString(db_.password));
        const ToolRun again = runTool("psql", {"-X", "-w", "-q", "-h", QString::fromStdString(db_.host), "-U",
                                               QString::fromStdString(db_.user), "-d",
                                               QString::fromStdString(db_.database), "-f", sourceDir() + "/data/gnis.sql"});
        qunsetenv("PGPASSWORD");
        QCOMPARE(again.exitCode, 0);
        QCOMPARE(psql(digest, db_), before);
    }

    void processingFailures_data() {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("message");
        QTest::newRow("load fails after psql took its output: the old table stays")
            << "load" << "GNIS ERROR: shp2pgsql failed: exit status 1";
        QTest::newRow("wrong password") << "password" << "GNIS ERROR: psql failed: FATAL:  password authentication failed for user";
        QTest::newRow("database missing") << "database" << "GNIS ERROR: psql failed: FATAL:  database \"no_such_db\" does not exist";
        QTest::newRow("tools neither in their folder nor on PATH")
            << "folder" << "GNIS ERROR: shp2pgsql not found in /nonexistent or on PATH";
        QTest::newRow("no server on the port, the hint after the cause")
            << "port" << "GNIS ERROR: psql failed: connection to server at \"" + qEnvironmentVariable("GNIS_PG_HOST") +
                             "\", port 1 failed: Connection refused; Is the server running on that host";
        QTest::newRow("pgsql2shp fails") << "export" << "GNIS ERROR: pgsql2shp failed: ";
        QTest::newRow("processing script fails") << "script" << "GNIS ERROR: psql failed: ERROR:  ";
        QTest::newRow("database name taken for an option")
            << "dash" << "GNIS ERROR: The database name \"-c\" starts with \"-\", which the tools take for an option";
    }
    void processingFailures() {
        QFETCH(QString, what);
        QFETCH(QString, message);
        REQUIRE_TOOL("ogr2ogr");
        if (!requireDatabase())
            return;
        QTemporaryDir out, scripts;
        makeShapefile(out.path());
        const QByteArray before = readAll(out.path() + "/gnis.shp");
        JobSettings s = job(out.path());
        if (what == "password")
            s.password = "not the password";
        if (what == "database")
            s.database = "no_such_db";
        if (what == "folder")
            s.postgisFolder = "/nonexistent";
        if (what == "dash")
            s.database = "-c";
        if (what == "port")
            s.port.assign(1, '1'); // assign, not =: GCC 12 at -O3 takes "=" for an overlapping copy
        if (what == "load") { // its own shp2pgsql, found first; psql and pgsql2shp from PATH
            // Like the real one, it replaces the table it is given, then fails.
            writeAll(scripts.path() + "/shp2pgsql", "#!/bin/sh\nfor t; do :; done\n"
                                                    "echo \"DROP TABLE IF EXISTS $t; CREATE TABLE $t (gid int);\"\nexit 1\n");
            QFile::setPermissions(scripts.path() + "/shp2pgsql", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            s.postgisFolder = fsPath(scripts.path());
        }
        const QString rowsBefore = psql("SELECT count(*) FROM gnis", db_);
        if (what == "export") { // the table is gone when pgsql2shp looks for it
            writeAll(scripts.path() + "/drop.sql", "DROP TABLE gnis;\n");
            s.processingScript = fsPath(scripts.path() + "/drop.sql");
        }
        if (what == "script") {
            writeAll(scripts.path() + "/bad.sql", "SELECT no_such_column FROM gnis;\n");
            s.processingScript = fsPath(scripts.path() + "/bad.sql");
        }
        Recorder rec;
        const QByteArray path = qgetenv("PATH");
        if (what == "folder")
            qputenv("PATH", "/nonexistent");
        const JobOutcome processed = RunJob(Job::Process, s, rec);
        qputenv("PATH", path);
        QVERIFY(!processed.ok);
        QVERIFY2(QString::fromStdString(processed.text).startsWith(message), processed.text.c_str());
        if (what == "load" || what == "script" || what == "export") // a failure after the swap puts the table back
            QCOMPARE(psql("SELECT count(*) FROM gnis", db_), rowsBefore);
        QVERIFY(!rec.milestones.contains("Data Extracted"));
        QCOMPARE(readAll(out.path() + "/gnis.shp"), before); // the only shapefile survives
        QVERIFY(!QFileInfo::exists(out.path() + "/gnis.sql"));
        QCOMPARE(QDir(out.path()).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{});
    }

    void allAtOnceFromTheServer() {
        // Hawaii's names carry letters beyond Latin-1 through the shapefile and the database.
        const QString code = "HI", archive = dataFile("HI_Features_20090401.zip"), spot = "Hā‘ele‘ele Ridge|0x6613";
        REQUIRE_TOOL("ogr2ogr");
        if (!requireDatabase())
            return;
        QTemporaryDir mirror, out, reference;
        putInMirror(mirror.path(), code, readAll(archive));
        HttpTestServer server(mirror.path());
        // The GPX the shapefile must agree with, made on the side.
        JobSettings gpxJob = job(reference.path());
        gpxJob.states = {FindState(code.toStdString())};
        gpxJob.source = GnisSource::Classic2009;
        gpxJob.gnisServer = server.base("ok").toStdString();
        Recorder rec;
        QVERIFY(RunJob(Job::Gpx, gpxJob, rec).ok);
        const QStringList expected = gpxFeatures(readAll(reference.path() + "/gnis.gpx"));

        const QStringList args{"all", "--state", code, "--output", out.path(), "--server", server.base("ok"), "--source", "2009",
                               "--host", QString::fromStdString(db_.host), "--database",
                               QString::fromStdString(db_.database), "--user", QString::fromStdString(db_.user)};
        qputenv("PGPASSWORD", QByteArray::fromStdString(db_.password));
        const ToolRun run = runTool(QStringLiteral(GNIS_CONVERT), args);
        qunsetenv("PGPASSWORD");
        QVERIFY2(run.exitCode == 0, run.err.right(2000).constData());
        QVERIFY2(run.out.trimmed().endsWith("GNIS Data Processed. Nothing to compare with: the first run of these states, "
                                            "source, class table and area."),
                 run.out.constData());
        const QStringList features = shapefileFeatures(out.path() + "/gnis.shp");
        QVERIFY(features.contains(spot));
        // The same names and types as the GPX, less the exact duplicates the processing removed.
        QCOMPARE(QSet<QString>(features.begin(), features.end()), QSet<QString>(expected.begin(), expected.end()));
        QVERIFY(features.size() <= expected.size() && features.size() > expected.size() - 50);
        QCOMPARE(psql("SELECT count(*) FROM gnis", db_), QString::number(features.size()));
    }
};

GNIS_TEST_CLASS(PostgisTest)
#include "test_postgis.moc"
