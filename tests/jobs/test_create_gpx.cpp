// The GPX stage on files made here and on the real gazetteer texts.

#include "jobs/create_gpx.h"
#include "formats/result_points.h"
#include "jobs/run_job.h"
#include "jobs/what_changed.h"
#include "gazetteer/states.h"
#include "test_main.h"
#include "test_support.h"
#include "zip_builder.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <tuple>
#include <sys/resource.h>

using namespace gnis;
using namespace testsupport;

namespace {

const QByteArray kHeader =
    "FEATURE_ID|FEATURE_NAME|FEATURE_CLASS|STATE_ALPHA|STATE_NUMERIC|COUNTY_NAME|COUNTY_NUMERIC|"
    "PRIMARY_LAT_DMS|PRIM_LONG_DMS|PRIM_LAT_DEC|PRIM_LONG_DEC|SOURCE_LAT_DMS|SOURCE_LONG_DMS|"
    "SOURCE_LAT_DEC|SOURCE_LONG_DEC|ELEVATION|MAP_NAME|DATE_CREATED|DATE_EDITED";

// Each record a feature of its own, so none is taken for a duplicate.
QByteArray record(const QByteArray& name, const QByteArray& cls, const QByteArray& lat, const QByteArray& lon,
                  const QByteArray& elevation = "", const QByteArray& source = "Williamstown") {
    static int nextId = 600000;
    return QByteArray::number(++nextId) + "|" + name + "|" + cls + "|MA|25|Berkshire|003|423815N|0730958W|" + lat + "|" + lon +
           "|||||" + elevation + "|" + source + "|02/24/1974|";
}

QByteArray file(const QList<QByteArray>& records) { return kHeader + "\r\n" + records.join("\r\n") + "\r\n"; }

QByteArray wpt(const QByteArray& lat, const QByteArray& lon, const QByteArray& ele, const QByteArray& name,
               const QByteArray& desc, const QByteArray& src, const QByteArray& type) {
    QByteArray out = "<wpt lat=\"" + lat + "\" lon=\"" + lon + "\">\r\n";
    if (!ele.isNull())
        out += "   <ele>" + ele + "</ele>\r\n";
    return out + "   <name>" + name + "</name>\r\n   <desc>" + desc + "</desc>\r\n   <src>USGS GNIS " + src +
           "</src>\r\n   <type>" + type + "</type>\r\n</wpt>\r\n";
}

// The names of a written file's waypoints, in order.
QStringList readNames(const QString& path) {
    QStringList names;
    const QString gpx = QString::fromUtf8(readAll(path));
    for (qsizetype at = gpx.indexOf("<name>"); at >= 0; at = gpx.indexOf("<name>", at + 1))
        names << gpx.mid(at + 6, gpx.indexOf("</name>", at) - at - 6);
    return names;
}

// The waypoint blocks of a written file, everything between the header lines and </gpx>.
QByteArray blocks(const QByteArray& gpx) {
    const qsizetype start = gpx.indexOf("</time>\r\n") + 9, end = gpx.lastIndexOf("</gpx>\r\n");
    return start < 9 || end < 0 ? "<malformed file>" : gpx.mid(start, end - start);
}


const int kMA = FindState("MA");

struct Run {
    bool ok = false;
    GpxStats stats;
    QString statusBar;
    QStringList status;
    QByteArray gpx;
};

// Converts the user's own text, or the states' texts in the user's own archive;
// the output folder gets gnis.gpx.
Run convertFrom(const QString& folder, const QString& input, const std::vector<int>& states = {},
                const QString& classes = {}) {
    JobSettings settings;
    settings.outputFolder = fsPath(folder);
    if (!classes.isEmpty())
        settings.classTable = fsPath(classes);
    settings.states = states;
    (states.empty() ? settings.inputText : settings.inputArchive) = fsPath(input);
    Recorder rec;
    Run run;
    const JobOutcome outcome = RunJob(Job::Gpx, settings, rec);
    run.ok = outcome.ok;
    run.stats = outcome.stats;
    run.statusBar = QString::fromStdString(outcome.text);
    run.status = rec.status;
    run.gpx = readAll(folder + "/gnis.gpx");
    return run;
}

Run convert(const QByteArray& text) {
    QTemporaryDir dir, in;
    writeAll(in.path() + "/input.txt", text);
    return convertFrom(dir.path(), in.path() + "/input.txt");
}


} // namespace

class CreateGpxTest : public QObject {
    Q_OBJECT
private slots:
    void gazetteerCases() {
        // One record per case, each named after what it tries; the expected waypoints were checked by hand.
        QTemporaryDir dir;
        const Run run = convertFrom(dir.path(), dataFile("gazetteer-cases.txt"));
        QVERIFY2(run.ok, qPrintable(run.statusBar));
        QCOMPARE(run.status, QStringList{"Creating GNIS GPX File"});
        // The whole file, CR LF line ends and the header lines included; only the time differs from run to run.
        static const QRegularExpression time("<time>\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d</time>");
        QCOMPARE(QString::fromUtf8(run.gpx).replace(time, "<time>TIME</time>").split('\n'),
                 QString::fromUtf8(readAll(dataFile("gazetteer-cases.gpx"))).split('\n'));
        const GpxStats& n = run.stats;
        QCOMPARE(QList<std::int64_t>({n.records, n.waypoints, n.leftOut, n.noPosition, n.duplicates, n.malformed}),
                 QList<std::int64_t>({33, 17, 4, 4, 0, 8}));
        // The same conversion into a Polish-format map for mkgmap: a POI per waypoint, labels without entities.
        JobSettings mp;
        mp.outputFolder = fsPath(dir.path());
        mp.inputText = fsPath(dataFile("gazetteer-cases.txt"));
        Recorder rec;
        QVERIFY(RunJob(Job::Mp, mp, rec).ok);
        const QByteArray map = readAll(dir.path() + "/gnis.mp");
        QCOMPARE(map.count("[POI]\r\n"), 17);
        QVERIFY(map.contains("[IMG ID]\r\nID=" + QByteArray::number(GarminMapId(mp)) + "\r\nName=GNIS gazetteer-cases\r\n"));
        QVERIFY(map.contains("[POI]\r\nType=0x6616\r\nLabel=Mount Greylock, 3488\r\nData0=(42.6375821,-73.1662155)\r\n[END]\r\n"));
        QVERIFY(map.contains("\r\nLabel=Tom & \"Jerry's\" <Hill>\r\n") && map.contains("Data0=(+042.50,-070.0)") &&
                map.contains("Data0=(-43,-74)"));
        // The result window reads the same waypoints back.
        const ResultPoints back = ReadGpxPoints(fsPath(dir.path() + "/gnis.gpx"));
        QCOMPARE(back.size(), std::size_t(17));
        QCOMPARE(back.types[back.largestTypes()[0]].code, std::string("0x6616")); // Summit, 9 of them
        QCOMPARE(back.types[back.largestTypes()[0]].count, 9);
        QCOMPARE(std::pair(back.lon[5], back.lat[5]), std::pair(-180.0f, 90.0f));
        QStringList reasons;
        for (const MalformedRecord& m : n.firstMalformed)
            reasons << QString::number(m.line) + ": " + QString::fromStdString(m.reason);
        QCOMPARE(reasons, QStringList({"24: it has 5 columns, 17 are needed", "25: latitude \"north\" is not a decimal number",
                                       "26: latitude \"4e1\" is not a decimal number",
                                       "27: longitude \"\" is not a decimal number", "28: latitude \"90.5\" is outside -90..90"}));
    }

    void columnsByHeader_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray header2011 =
            "FEATURE_ID|FEATURE_NAME|FEATURE_CLASS|STATE_ALPHA|STATE_NUMERIC|COUNTY_NAME|COUNTY_NUMERIC|"
            "PRIMARY_LAT_DMS|PRIM_LONG_DMS|PRIM_LAT_DEC|PRIM_LONG_DEC|SOURCE_LAT_DMS|SOURCE_LONG_DMS|"
            "SOURCE_LAT_DEC|SOURCE_LONG_DEC|ELEV_IN_M|ELEV_IN_FT|MAP_NAME|DATE_CREATED|DATE_EDITED";
        QTest::newRow("20 columns with metres and feet")
            << header2011 + "\r\n607448|Mount Greylock|Summit|MA|25|Berkshire|003|423815N|0730958W|42.6375821|"
                            "-73.1662155|||||1063|3488|Williamstown|02/24/1974|\r\n"
            << wpt("42.6375821", "-73.1662155", "3488", "Mount Greylock, 3488", "Summit", "Williamstown", "0x6616");
        QTest::newRow("reordered, lower-case names, no elevation, no map")
            << QByteArray("prim_long_dec|feature_class|prim_lat_dec|feature_name\r\n-73.1|Summit|42.1|Reordered\r\n")
            << wpt("42.1", "-73.1", {}, "Reordered", "Summit", "", "0x6616");
        QTest::newRow("no header: the first line is a record")
            << record("First", "Summit", "42.1", "-73.1") + "\r\n" + record("Second", "Summit", "42.2", "-73.2")
            << wpt("42.1", "-73.1", {}, "First", "Summit", "Williamstown", "0x6616") +
                   wpt("42.2", "-73.2", {}, "Second", "Summit", "Williamstown", "0x6616");
        QTest::newRow("unknown header: classic positions")
            << "ID|NAME|CLASS|a|b|c|d|e|f|LAT|LON|g|h|i|j|ELEV|SRC\r\n" + record("Fixed", "Summit", "42.1", "-73.1", "10")
            << wpt("42.1", "-73.1", "33", "Fixed, 33", "Summit", "Williamstown", "0x6616");
    }
    void columnsByHeader() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, expected);
        const Run run = convert(text);
        QVERIFY2(run.ok, qPrintable(run.statusBar));
        QCOMPARE(blocks(run.gpx), expected);
    }

    void classTableOfTheUsers_data() {
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<QString>("error"); // empty: the conversion runs with it
        const QByteArray good = "# my own map\nSummit 0x6617\nlake 0x650D  # the lakes too\nPopulated Place -\n\n";
        QTest::newRow("Lake added, Summit changed, a class left out") << good << "";
        QTest::newRow("one column") << QByteArray("Summit 0x6616\nLake\n") << "line 2: a feature class and a map type code (or -) are needed";
        QTest::newRow("no hexadecimal code") << QByteArray("Summit 6616\n")
                                             << "line 1: \"6616\" is no map type code (0x and up to four hexadecimal digits) and not -";
        QTest::newRow("a class twice") << QByteArray("Summit 0x6616\n# again\nSUMMIT 0x6617\n") << "line 3: SUMMIT is listed twice";
    }
    void classTableOfTheUsers() {
        QFETCH(QByteArray, table);
        QFETCH(QString, error);
        QTemporaryDir dir, in;
        writeAll(in.path() + "/classes.txt", table);
        writeAll(in.path() + "/input.txt", file({record("Greylock", "Summit", "42.6", "-73.1", "1063"),
                                                 record("Onota", "Lake", "42.4", "-73.2"),
                                                 record("Pittsfield", "Populated Place", "42.4", "-73.2"),
                                                 record("Quabbin", "Reservoir", "42.3", "-72.3")}));
        writeAll(dir.path() + "/gnis.gpx", "old");
        const Run run = convertFrom(dir.path(), in.path() + "/input.txt", {}, in.path() + "/classes.txt");
        if (!error.isEmpty()) { // refused before anything is read or written
            QCOMPARE(run.statusBar, "GNIS ERROR: The class table " + in.path() + "/classes.txt, " + error);
            QCOMPARE(run.gpx, QByteArray("old"));
            QCOMPARE(filesIn(dir.path()), QStringList{"gnis.gpx"});
            return;
        }
        QVERIFY2(run.ok, qPrintable(run.statusBar));
        // Only what the table lists goes on the map, with its code; a summit keeps its elevation in its name.
        QCOMPARE(blocks(run.gpx), wpt("42.6", "-73.1", "3488", "Greylock, 3488", "Summit", "Williamstown", "0x6617") +
                                      wpt("42.4", "-73.2", {}, "Onota", "Lake", "Williamstown", "0x650D"));
        QCOMPARE(run.stats.leftOut, 2);
    }

    // Counts made independently of this code, with a separate script over the
    // same texts: waypoints, outside the area, duplicates.
    void areaOfTheMap_data() {
        QTest::addColumn<QString>("bbox");
        QTest::addColumn<QString>("county");
        QTest::addColumn<QList<qint64>>("counts");
        QTest::addColumn<QString>("message"); // the warning, or the error when nothing is kept
        QTest::newRow("box across the Massachusetts–Rhode Island line")
            << "-71.6,41.8,-71.1,42.2" << "" << QList<qint64>{634, 9247, 2} << "";
        QTest::newRow("Bristol, a county of both states") << "" << "BRISTOL" << QList<qint64>{616, 9266, 1} << "";
        QTest::newRow("Bristol of Rhode Island only") << "" << "bristol RI" << QList<qint64>{86, 9797, 0} << "";
        QTest::newRow("as people write it") << "" << "Bristol County Rhode Island" << QList<qint64>{86, 9797, 0} << "";
        QTest::newRow("a county that is not there, beside one that is")
            << "" << "Bristol RI,Nowhere" << QList<qint64>{86, 9797, 0} << "No feature lies in the county Nowhere.";
        QTest::newRow("box and county: both must hold, so nothing is kept")
            << "-71.6,41.8,-71.1,42.2" << "Bristol RI" << QList<qint64>{0, 9883, 0}
            << "GNIS ERROR: The area (box -71.6,41.8,-71.1,42.2 and county Bristol RI) keeps nothing: all 9,883 "
               "features with a position lie outside it; the gazetteer names counties as \"Middlesex\", with a state "
               "code where names repeat (\"Bristol RI\")";
        QTest::newRow("no area") << "" << "" << QList<qint64>{9880, 0, 3} << "";
    }
    void areaOfTheMap() {
        QFETCH(QString, bbox);
        QFETCH(QString, county);
        QFETCH(QList<qint64>, counts);
        QFETCH(QString, message);
        QTemporaryDir dir;
        JobSettings settings;
        settings.outputFolder = fsPath(dir.path());
        settings.states = {kMA, FindState("RI")};
        settings.gnisServer = sourceDir().toStdString() + "/data/mirror";
        if (!bbox.isEmpty())
            QVERIFY(settings.area.setBox(bbox.toStdString()));
        if (!county.isEmpty())
            QVERIFY(settings.area.setCounties(county.toStdString()));
        Recorder rec;
        const JobOutcome outcome = RunJob(Job::Gpx, settings, rec);
        if (counts[0] == 0) { // an area that keeps nothing is told, and no empty file is made
            QCOMPARE(QString::fromStdString(outcome.text), message);
            QCOMPARE(filesIn(dir.path()), QStringList());
            return;
        }
        QVERIFY2(outcome.ok, outcome.text.c_str());
        QCOMPARE((QList<qint64>{outcome.stats.waypoints, outcome.stats.outside, outcome.stats.duplicates}), counts);
        QCOMPARE(QString::fromStdString(outcome.stats.warning), message);
        const bool area = !bbox.isEmpty() || !county.isEmpty();
        QCOMPARE(QString::fromStdString(outcome.summary).contains(QString("; %1 outside the area;").arg(counts[1])), area);
        if (bbox.isEmpty())
            return;
        // Every point inside the box as written, and from both sides of the state line (about 42.02° N).
        const QString gpx = QString::fromUtf8(readAll(dir.path() + "/gnis.gpx"));
        QRegularExpression position("<wpt lat=\"([^\"]+)\" lon=\"([^\"]+)\">");
        qint64 inside = 0, north = 0;
        for (auto m = position.globalMatch(gpx); m.hasNext();) {
            const auto p = m.next();
            const double lat = p.captured(1).toDouble(), lon = p.captured(2).toDouble();
            QVERIFY2(lat >= 41.8 && lat <= 42.2 && lon >= -71.6 && lon <= -71.1, qPrintable(p.captured(0)));
            ++inside;
            north += lat > 42.03;
        }
        QCOMPARE(inside, counts[0]);
        QVERIFY(north > 0 && north < counts[0]);
    }

    void areaAcrossTheAntimeridian() {
        // The Aleutians run past 180°: a box from 172° E to 176° W holds their western end.
        QTemporaryDir dir, in;
        writeAll(in.path() + "/ak.txt", file({record("Attu", "Island", "52.8833", "173.1833"),
                                              record("Amchitka", "Island", "51.5000", "179.0000"),
                                              record("Adak", "Island", "51.8800", "-176.6600"),
                                              record("Anchorage", "Populated Place", "61.2181", "-149.9003"),
                                              record("West of the box", "Island", "52.0000", "170.0000"),
                                              record("East of the box", "Island", "52.0000", "-170.0000"),
                                              record("North of the box", "Island", "53.5000", "179.0000"),
                                              // On the edge as written (rounded to 9 decimals), and just past it.
                                              record("On the north edge", "Island", "53.0000000004", "179.0000"),
                                              record("Past the north edge", "Island", "53.0000000006", "179.0000")}));
        JobSettings settings;
        settings.outputFolder = fsPath(dir.path());
        settings.inputText = fsPath(in.path() + "/ak.txt");
        QVERIFY(settings.area.setBox("172,51,-176,53"));
        Recorder rec;
        const JobOutcome outcome = RunJob(Job::Gpx, settings, rec);
        QVERIFY2(outcome.ok, outcome.text.c_str());
        QCOMPARE(readNames(dir.path() + "/gnis.gpx"), QStringList({"Attu", "Amchitka", "Adak", "On the north edge"}));
        QCOMPARE(outcome.stats.outside, 5);
    }

    void runRecordReadsBack() {
        // Names of one byte and none, a negative position: what is written reads back whole;
        // a record cut short does not read at all.
        FeatureRecord record;
        for (const auto& [id, name, lat, lon] : {std::tuple{"7", "A", "-14.25", "-170.7"}, std::tuple{"3", "", "61.2", "-149.9"}}) {
            Waypoint w;
            w.featureId = id;
            w.name = name;
            w.featureClass = "Summit";
            QVERIFY(ParseDecimal(lat, w.latValue) && ParseDecimal(lon, w.lonValue));
            record.add(w);
        }
        record.sort();
        std::string bytes;
        record.serializeInto(42, [&bytes](std::string_view piece) { bytes += piece; });
        FeatureRecord back;
        std::int64_t madeAt = 0;
        QVERIFY(back.parse(bytes, madeAt));
        QCOMPARE(madeAt, 42);
        QCOMPARE(back.features().size(), std::size_t(2));
        QCOMPARE(back.features()[0].id, std::uint64_t(3));
        QCOMPARE(std::string(back.nameOf(back.features()[1])), std::string("A"));
        QCOMPARE(back.features()[1].lat, std::int64_t(-14250000000));
        QCOMPARE(back.classOf(back.features()[1]), std::string("Summit"));
        QVERIFY(!back.parse(bytes.substr(0, bytes.size() - 1), madeAt));
    }

    void readOnlyOldGpxReplacedNothingElseTouched() {
        QTemporaryDir dir, in;
        writeAll(dir.path() + "/gnis.zip", "zip"); // not fetched by this run, so not its to remove
        QFile old(dir.path() + "/gnis.gpx");
        writeAll(old.fileName(), "old, read-only");
        old.setPermissions(QFile::ReadOwner);
        Archive archive;
        archive.members << Member{"MA_Features_20090401.txt", file({record("A", "Summit", "42.1", "-73.1")})};
        writeAll(in.path() + "/ma.zip", archive.bytes());
        const Run run = convertFrom(dir.path(), in.path() + "/ma.zip", {kMA});
        QVERIFY2(run.ok, qPrintable(run.statusBar));
        QCOMPARE(filesIn(dir.path()), QStringList({"gnis.gpx", "gnis.zip"}));
        QCOMPARE(readAll(dir.path() + "/gnis.zip"), QByteArray("zip"));
        QCOMPARE(run.gpx.count("<wpt"), 1);
    }

    void featuresGoInOnce() {
        // Two states' texts in one archive of the user's; neighbours' files share border features.
        const QByteArray ma = file({"7|Greylock|Summit|MA|25|B|003|N|W|42.6|-73.1|||||1063|W||",
                                    "8|Hoosac|Range|MA|25|B|003|N|W|42.7|-73.0|||||||",
                                    "7|Greylock again|Summit|MA|25|B|003|N|W|42.6|-73.1|||||1063|W||"});
        const QByteArray ri = file({"8|Hoosac in RI's file|Range|RI|44|B|003|N|W|42.7|-73.0|||||||",
                                    "9|Block|Island|RI|44|W|009|N|W|41.2|-71.5|||||||",
                                    "|No id|Island|RI|44|W|009|N|W|41.2|-71.5|||||||",
                                    "x9|Odd id|Island|RI|44|W|009|N|W|41.2|-71.5|||||||"});
        QTemporaryDir dir, in;
        Archive a;
        a.members << Member{"RI_Features_20090401.txt", ri} << Member{"Text/DomesticNames_MA.txt", ma};
        writeAll(in.path() + "/both.zip", a.bytes());
        const Run run = convertFrom(dir.path(), in.path() + "/both.zip", {kMA, FindState("RI")});
        QVERIFY2(run.ok, qPrintable(run.statusBar));
        QCOMPARE(run.stats.duplicates, 2);
        QCOMPARE(run.stats.waypoints, 5); // a feature without a usable id cannot be matched, so it stays
        QCOMPARE(readNames(dir.path() + "/gnis.gpx"),
                 QStringList({"Greylock, 3488", "Hoosac", "Block", "No id", "Odd id"}));
    }

    void failuresKeepTheOldGpx_data() {
        QTest::addColumn<QString>("input"); // the user's text, an archive of it, or gnis.gpx itself
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("message"); // IN: where the input lies
        QTest::newRow("no longitude column") << "text" << QByteArray("FEATURE_NAME|FEATURE_CLASS|PRIM_LAT_DEC\r\nA|Summit|42\r\n")
                                             << "Can't convert IN/input.txt: the header names PRIM_LAT_DEC but no PRIM_LONG_DEC column";
        QTest::newRow("empty") << "text" << QByteArray() << "no records in IN/input.txt";
        QTest::newRow("header only") << "text" << kHeader + "\r\n\r\n" << "no records in IN/input.txt";
        QTest::newRow("checksum wrong") << "archive" << file({record("A", "Summit", "42.1", "-73.1")})
                                        << "Data checksum error in Text/DomesticNames_MA.txt";
        QTest::newRow("input is the output") << "output" << file({record("A", "Summit", "42.1", "-73.1")})
                                             << "The input IN/./gnis.gpx is the output gnis.gpx; choose another folder";
        QTest::newRow("every record malformed")
            << "text" << file({record("A", "Summit", "north", "-73.1"), record("B", "Summit", "42.1", "")})
            << "every record of IN/input.txt is malformed (line 2: latitude \"north\" is not a decimal number)";
        QTest::newRow("a link named like the state's text is no text") << "link" << QByteArray("../../../etc/passwd")
            << "The archive IN/ma.zip holds no gazetteer text for Massachusetts (DomesticNames_MA.txt)";
        QTest::newRow("a small archive declaring a huge text") << "bomb" << file({record("A", "Summit", "42.1", "-73.1")})
            << "The file IN/ma.zip would unpack to 1073741824 bytes, more than 200 times its own SIZE bytes";
        QList<QByteArray> escaped; // each name five times its length once escaped, and no id to hold
        for (int i = 0; i < 2000; ++i)
            escaped << "|" + QByteArray(1000, '&') + "|Summit|MA|25|B|003|x|y|1|1||||||";
        QTest::newRow("output many times its text") << "text" << file(escaped)
            << "Can't convert IN/input.txt: the output would grow past OUTSIDE";
    }
    void failuresKeepTheOldGpx() {
        QFETCH(QString, input);
        QFETCH(QByteArray, text);
        QFETCH(QString, message);
        QTemporaryDir dir, in;
        const QByteArray old = input == "output" ? text : "old";
        writeAll(dir.path() + "/gnis.gpx", old);
        Run run;
        if (input == "archive" || input == "bomb" || input == "link") {
            Archive a;
            Member member{"Text/DomesticNames_MA.txt", text};
            if (input == "bomb") {
                member.declaredSize = 1 << 30;
            } else if (input == "link") { // a symbolic link made on Unix: its data is a path
                member.versionMadeBy = 3 << 8;
                member.externalAttributes = 0120777u << 16;
            } else {
                member.declaredCrc = 0x12345678;
            }
            a.members << member;
            writeAll(in.path() + "/ma.zip", a.bytes());
            message.replace("SIZE", QString::number(a.bytes().size()));
            run = convertFrom(dir.path(), in.path() + "/ma.zip", {kMA});
        } else if (input == "output") {
            run = convertFrom(dir.path(), dir.path() + "/./gnis.gpx");
            message.replace("IN", dir.path());
        } else {
            writeAll(in.path() + "/input.txt", text);
            run = convertFrom(dir.path(), in.path() + "/input.txt");
        }
        QVERIFY(!run.ok);
        message = "GNIS ERROR: " + message.replace("IN", in.path());
        if (message.endsWith("OUTSIDE"))
            QVERIFY2(run.statusBar.startsWith(message.chopped(7)), qPrintable(run.statusBar));
        else
            QCOMPARE(run.statusBar, message);
        QCOMPARE(filesIn(dir.path()), QStringList{"gnis.gpx"});
        QCOMPARE(run.gpx, old);
    }

    void unwritableOutputKeepsOldFile_data() {
        QTest::addColumn<bool>("diskFull"); // else gnis.gpx is a folder
        QTest::newRow("gnis.gpx is a folder") << false;
        QTest::newRow("file size limit (disk full)") << true;
    }
    void unwritableOutputKeepsOldFile() {
        QFETCH(bool, diskFull);
        QTemporaryDir dir, in;
        QList<QByteArray> records;
        for (int i = 0; i < 40000; ++i)
            records << record("Peak", "Summit", "42.1", "-73.1", "100");
        writeAll(in.path() + "/input.txt", file(records)); // in place before any limit applies
        if (diskFull)
            writeAll(dir.path() + "/gnis.gpx", "old gpx");
        else
            QVERIFY(QDir(dir.path()).mkdir("gnis.gpx"));
        // A real write failure: the kernel refuses to grow any file beyond 64 KiB.
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        if (diskFull) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit small = saved;
            small.rlim_cur = 64 * 1024;
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        const Run run = convertFrom(dir.path(), in.path() + "/input.txt");
        setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(!run.ok);
        QVERIFY2(run.statusBar.startsWith("GNIS ERROR: Can't ") && run.statusBar.contains(dir.path() + "/gnis.gpx") &&
                     (!diskFull || run.statusBar.contains("too large")),
                 qPrintable(run.statusBar));
        QCOMPARE(filesIn(dir.path()), diskFull ? QStringList{"gnis.gpx"} : QStringList{});
        QCOMPARE(run.gpx, diskFull ? QByteArray("old gpx") : QByteArray());
    }

    void resultReadersAreBounded() {
        // A sparse file of 4 GiB at the name: the reader gives up after its first GiB, and at once when stopped.
        QTemporaryDir dir;
        const QString gpx = dir.path() + "/gnis.gpx";
        QFile sparse(gpx);
        QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize(qint64(4) << 30));
        sparse.close();
        const ResultPoints capped = ReadGpxPoints(fsPath(gpx));
        QCOMPARE(capped.note, std::string("only the first GiB of gnis.gpx was read"));
        const std::atomic<bool> stop{true};
        QCOMPARE(ReadGpxPoints(fsPath(gpx), &stop).error, std::string("reading stopped"));
    }

    void realGazetteers_data() {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("expectedWaypoints");
        QTest::addColumn<QByteArray>("spot");
        // Counts made independently of this code, from the archives with a separate script.
        QTest::newRow("Massachusetts, ASCII CR LF")
            << sampleArchive() << "MA" << 21385
            << wpt("42.6375821", "-73.1662155", "3488", "Mount Greylock, 3488", "Summit", "Williamstown", "0x6616");
        QTest::newRow("Hawaii, UTF-16LE")
            << dataFile("HI_Features_20090401.zip") << "HI" << 7360
            << wpt("22.0911111", "-159.7166667", "1578", "Hā‘ele‘ele Ridge", "Ridge", "Makaha Point", "0x6613");
        // Today's Domestic Names: lower-case header, text in Text/, no elevations. (Massachusetts
        // and Rhode Island today go through the download and window tests.)
        QTest::newRow("Hawaii today, ʻokina kept")
            << currentSample("HI") << "HI" << 4673
            << wpt("22.0807147", "-159.6663889", {}, "Puʻukapele", "Summit", "Waimea Canyon", "0x6616");
    }
    void realGazetteers() {
        QFETCH(QString, archive);
        QFETCH(QString, code);
        QFETCH(int, expectedWaypoints);
        QFETCH(QByteArray, spot);
        REQUIRE_TOOL("xmllint");
        QTemporaryDir dir;
        const Run run = convertFrom(dir.path(), archive, {FindState(code.toStdString())});
        QVERIFY2(run.ok, qPrintable(run.statusBar));
        QCOMPARE(run.status, QStringList({"Extracting GNIS Zip File", "Creating GNIS GPX File"}));
        QCOMPARE(run.stats.waypoints, expectedWaypoints);
        QCOMPARE(run.stats.malformed, 0);
        const QByteArray& gpx = run.gpx;
        QCOMPARE(gpx.count("<wpt "), expectedWaypoints);
        QVERIFY(gpx.contains(spot));
        QCOMPARE(filesIn(dir.path()), QStringList{"gnis.gpx"});
        const ToolRun lint = runTool("xmllint", {"--noout", "--schema", dataFile("gpx10.xsd"), dir.path() + "/gnis.gpx"});
        QVERIFY2(lint.exitCode == 0, lint.err.left(2000).constData());
    }
};

GNIS_TEST_CLASS(CreateGpxTest)
#include "test_create_gpx.moc"
