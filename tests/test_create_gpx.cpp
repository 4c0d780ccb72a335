// The GPX stage on files made here and on the real gazetteer texts.

#include "create_gpx.h"
#include "run_job.h"
#include "states.h"
#include "test_support.h"
#include "zip_builder.h"

#include <QDir>
#include <QStringEncoder>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
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

QByteArray file(const QList<QByteArray>& records, const QByteArray& eol = "\r\n") {
    QByteArray out = kHeader + eol;
    for (const auto& r : records)
        out += r + eol;
    return out;
}

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
    const qsizetype time = gpx.indexOf("</time>\r\n");
    const qsizetype end = gpx.lastIndexOf("</gpx>\r\n");
    if (time < 0 || end < 0)
        return "<malformed file>";
    const qsizetype start = time + 9;
    return gpx.mid(start, end - start);
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
Run convertFrom(const QString& folder, const QString& input, const std::vector<int>& states = {}) {
    JobSettings settings;
    settings.outputFolder = fsPath(folder);
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

Run convertIn(const QString& folder, const QByteArray& text) {
    QTemporaryDir in;
    writeAll(in.path() + "/input.txt", text);
    return convertFrom(folder, in.path() + "/input.txt");
}

Run convert(const QByteArray& text) {
    QTemporaryDir dir;
    return convertIn(dir.path(), text);
}


} // namespace

class CreateGpxTest : public QObject {
    Q_OBJECT
private slots:
    void fileLayout() {
        const Run run = convert(file({record("Mount Greylock", "Summit", "42.6375821", "-73.1662155", "1063")}));
        QVERIFY(run.ok);
        QCOMPARE(run.status, QStringList{"Creating GNIS GPX File"});
        const QList<QByteArray> lines = run.gpx.split('\n');
        QCOMPARE(lines[0], QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r"));
        QVERIFY(lines[1].startsWith("<gpx version=\"1.0\" creator=\"Trailcrafter "));
        QCOMPARE(lines[2], QByteArray("xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                                      "xmlns=\"http://www.topografix.com/GPX/1/0\" "
                                      "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/0 "
                                      "http://www.topografix.com/GPX/1/0/gpx.xsd\">\r"));
        QVERIFY(QRegularExpression("^<time>\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d</time>\r$")
                    .match(QString::fromLatin1(lines[3])).hasMatch());
        QVERIFY(run.gpx.endsWith("</wpt>\r\n</gpx>\r\n"));
        QCOMPARE(run.gpx.count("\n"), run.gpx.count("\r\n"));
    }

    void waypoints_data() {
        QTest::addColumn<QList<QByteArray>>("records");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("summit with elevation")
            << QList<QByteArray>{record("Mount Greylock", "Summit", "42.6375821", "-73.1662155", "1063")}
            << wpt("42.6375821", "-73.1662155", "3488", "Mount Greylock, 3488", "Summit", "Williamstown", "0x6616");
        QTest::newRow("summit without elevation")
            << QList<QByteArray>{record("Bald Top", "summit", "42.1", "-73.1")}
            << wpt("42.1", "-73.1", {}, "Bald Top", "summit", "Williamstown", "0x6616");
        QTest::newRow("summit at sea level")
            << QList<QByteArray>{record("Low Hill", "SUMMIT", "42.1", "-73.1", "0")}
            << wpt("42.1", "-73.1", "0", "Low Hill, 0", "SUMMIT", "Williamstown", "0x6616");
        QTest::newRow("non-summit with elevation")
            << QList<QByteArray>{record("Onota Lake", "Reservoir", "42.46", "-73.28", "-3")}
            << wpt("42.46", "-73.28", "-10", "Onota Lake", "Reservoir", "Williamstown", "0x650F");
        QTest::newRow("source of spaces, empty name")
            << QList<QByteArray>{record("", "Trail", "42.1", "-73.1", "", "   ")}
            << wpt("42.1", "-73.1", {}, "", "Trail", "", "0x6412");
        QTest::newRow("source trimmed")
            << QList<QByteArray>{record("X", "Park", "42.1", "-73.1", "", "  North Adams  ")}
            << wpt("42.1", "-73.1", {}, "X", "Park", "North Adams", "0x640E");
        QTest::newRow("dams are kept")
            << QList<QByteArray>{record("Quabbin Dam", "Dam", "42.28", "-72.34")}
            << wpt("42.28", "-72.34", {}, "Quabbin Dam", "Dam", "Williamstown", "0x5500");
        QTest::newRow("a pole and the antimeridian are on the globe")
            << QList<QByteArray>{record("N", "Summit", "90", "-180"), record("S", "Summit", "-90.0", "180")}
            << wpt("90", "-180", {}, "N", "Summit", "Williamstown", "0x6616") +
                   wpt("-90.0", "180", {}, "S", "Summit", "Williamstown", "0x6616");
        QTest::newRow("positions written as read")
            << QList<QByteArray>{record("P", "Bay", "+042.50", "-070.0", "")}
            << wpt("+042.50", "-070.0", {}, "P", "Bay", "Williamstown", "0x6503");
        QTest::newRow("zero positions and unlisted classes leave no trace")
            << QList<QByteArray>{record("A", "Summit", "0", "-73.1"), record("B", "Summit", "42.1", "0.0"),
                                 record("C", "Summit", "-0", "-0"), record("D", "Summit", "00.000", "-73.1"),
                                 record("E", "Beach", "42.1", "-73.1"), record("F", " Summit", "42.1", "-73.1"),
                                 record("G", "Well", "42.2", "-73.2")}
            << wpt("42.2", "-73.2", {}, "G", "Well", "Williamstown", "0x6414");
        QTest::newRow("names folded, class and source as read")
            << QList<QByteArray>{record("Étang Ñandú", "Lake", "1", "1") /* deleted */,
                                 record("Étang Ñandú", "Swamp", "42.1", "-73.1", "", "Montréal")}
            << wpt("42.1", "-73.1", {}, "Etang Nandu", "Swamp", "Montréal", "0x6513");
        QTest::newRow("XML specials in every text column")
            << QList<QByteArray>{record("Tom & \"Jerry's\" <Hill>", "Summit", "42.1", "-73.1", "", "A&B <map>")}
            << wpt("42.1", "-73.1", {}, "Tom &amp; &quot;Jerry's&quot; &lt;Hill&gt;", "Summit", "A&amp;B &lt;map&gt;",
                   "0x6616");
        QTest::newRow("control bytes dropped from every text column")
            << QList<QByteArray>{record("Bad\x01Name\x1b", "Sum\x02mit", "42.1", "-73.1", "", "Map\x0b")}
            << QByteArray() /* class no longer matches: dropped */;
        QTest::newRow("control bytes dropped, class intact")
            << QList<QByteArray>{record("Bad\x01Name\x1b", "Summit", "42.1", "-73.1", "", "Ma\x7fp\x0b")}
            << wpt("42.1", "-73.1", {}, "BadName", "Summit", "Ma\x7fp", "0x6616");
        QTest::newRow("record order kept, duplicates kept")
            << QList<QByteArray>{record("Z", "Cape", "41.1", "-70.1"), record("Z", "Cape", "41.1", "-70.1")}
            << wpt("41.1", "-70.1", {}, "Z", "Cape", "Williamstown", "0x6606") +
                   wpt("41.1", "-70.1", {}, "Z", "Cape", "Williamstown", "0x6606");
    }
    void waypoints() {
        QFETCH(QList<QByteArray>, records);
        QFETCH(QByteArray, expected);
        const Run run = convert(file(records));
        QVERIFY2(run.ok, qPrintable(run.statusBar));
        QCOMPARE(blocks(run.gpx), expected);
        QCOMPARE(run.stats.malformed, 0);
    }

    void lineEndsAndEncodings() {
        const QList<QByteArray> records{record("Mount Greylock", "Summit", "42.6375821", "-73.1662155", "1063"),
                                        record("Hā‘ele‘ele Ridge", "Ridge", "22.0911111", "-159.7166667", "481")};
        const QByteArray crlf = file(records);
        const Run reference = convert(crlf);
        QVERIFY(reference.ok);
        QCOMPARE(reference.stats.waypoints, 2);
        QVERIFY(blocks(reference.gpx).contains("<name>Hā‘ele‘ele Ridge</name>"));

        const QString text = QString::fromUtf8(crlf);
        auto utf16 = [&](QStringConverter::Encoding e) {
            QStringEncoder enc(e, QStringConverter::Flag::WriteBom);
            return QByteArray(enc(text));
        };
        // The reader's own tests cover every encoding and line end; here the stage must use it.
        const std::vector<std::pair<const char*, QByteArray>> variants{
            {"LF", file(records, "\n")},
            {"CR only", file(records, "\r")},
            {"UTF-16LE mark", utf16(QStringConverter::Utf16LE)},
            {"blank lines", kHeader + "\r\n\r\n" + records[0] + "\r\n   \r\n" + records[1] + "\n\n"},
        };
        for (const auto& [what, bytes] : variants) {
            const Run run = convert(bytes);
            QVERIFY2(run.ok, what);
            QVERIFY2(blocks(run.gpx) == blocks(reference.gpx), what);
        }
    }

    void windows1252NextToUtf8() {
        const Run run = convert(file({record("Caf\xE9 Hill \x93Old\x94", "Summit", "42.1", "-73.1"),
                                      record("Caf\xC3\xA9 Hill", "Summit", "42.2", "-73.2", "", "Montr\xC3\xA9" "al"),
                                      record("Peak", "Summit", "42.3", "-73.3", "", "Mont\xE9r\xE9gie")}));
        QVERIFY(run.ok);
        const QByteArray w = blocks(run.gpx);
        QVERIFY(w.contains("<name>Cafe Hill “Old”</name>"));
        QVERIFY(w.contains("<name>Cafe Hill</name>"));
        QVERIFY(w.contains("<src>USGS GNIS Montréal</src>"));
        QVERIFY(w.contains("<src>USGS GNIS Montérégie</src>"));
        QVERIFY(QString::fromUtf8(run.gpx).toUtf8() == run.gpx); // all of it valid UTF-8
    }

    void malformedRecords_data() {
        QTest::addColumn<QByteArray>("bad");
        QTest::addColumn<QString>("reason");
        QTest::newRow("too few columns") << QByteArray("1|Short|Summit|MA|25") << "5 columns, 17 are needed";
        QTest::newRow("latitude text") << record("A", "Summit", "north", "-73.1") << "latitude \"north\"";
        QTest::newRow("latitude exponent") << record("A", "Summit", "4e1", "-73.1") << "latitude \"4e1\"";
        QTest::newRow("longitude empty") << record("A", "Summit", "42.1", "") << "longitude \"\"";
        QTest::newRow("latitude above 90") << record("A", "Summit", "90.5", "-73.1") << "outside -90..90";
        QTest::newRow("longitude below -180") << record("A", "Summit", "42.1", "-180.01") << "outside -180..180";
        QTest::newRow("elevation text") << record("A", "Summit", "42.1", "-73.1", "high") << "elevation \"high\"";
        QTest::newRow("elevation beyond 32 bits of feet")
            << record("A", "Summit", "42.1", "-73.1", "999999999") << "elevation \"999999999\"";
    }
    void malformedRecords() {
        QFETCH(QByteArray, bad);
        QFETCH(QString, reason);
        const Run run = convert(file({record("Good", "Summit", "42.1", "-73.1"), bad, record("Good", "Summit", "42.1", "-73.1")}));
        QVERIFY(run.ok);
        QCOMPARE(run.stats.waypoints, 2);
        QCOMPARE(run.stats.malformed, 1);
        QCOMPARE(run.stats.records, 3);
        QCOMPARE(run.stats.firstMalformed.size(), std::size_t(1));
        QCOMPARE(run.stats.firstMalformed[0].line, 3); // header is line 1
        QVERIFY2(QString::fromStdString(run.stats.firstMalformed[0].reason).contains(reason),
                 run.stats.firstMalformed[0].reason.c_str());
    }

    void malformedCountKeepsFirstFew() {
        const Run run = convert(file(QList<QByteArray>(12, record("X", "Summit", "bad", "1"))));
        QVERIFY(run.ok);
        QCOMPARE(run.stats.malformed, 12);
        QCOMPARE(run.stats.firstMalformed.size(), GpxStats::kMalformedKept);
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

    void headerWithoutLongitudeFails() {
        QTemporaryDir dir;
        writeAll(dir.path() + "/gnis.gpx", "old");
        const Run run = convertIn(dir.path(), "FEATURE_NAME|FEATURE_CLASS|PRIM_LAT_DEC\r\nA|Summit|42\r\n");
        QVERIFY(!run.ok);
        QVERIFY2(run.statusBar.startsWith("GNIS ERROR: ") && run.statusBar.contains("PRIM_LONG_DEC"),
                 qPrintable(run.statusBar));
        QCOMPARE(run.gpx, QByteArray("old"));
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

    void textWithoutRecordsFails_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("header only") << kHeader + "\r\n\r\n";
    }
    void textWithoutRecordsFails() {
        QFETCH(QByteArray, text);
        QTemporaryDir dir;
        writeAll(dir.path() + "/gnis.gpx", "old");
        const Run run = convertIn(dir.path(), text);
        QVERIFY(!run.ok);
        QVERIFY2(run.statusBar.startsWith("GNIS ERROR: no records in ") && run.statusBar.endsWith("/input.txt"),
                 qPrintable(run.statusBar));
        QCOMPARE(run.gpx, QByteArray("old"));
    }

    void inputThatIsTheOutputIsRefused() {
        QTemporaryDir dir;
        const QByteArray text = file({record("A", "Summit", "42.1", "-73.1")});
        writeAll(dir.path() + "/gnis.gpx", text);
        const Run run = convertFrom(dir.path(), dir.path() + "/./gnis.gpx");
        QVERIFY(!run.ok);
        QCOMPARE(run.statusBar, "GNIS ERROR: The input " + dir.path() + "/./gnis.gpx is the output gnis.gpx; choose another folder");
        QCOMPARE(readAll(dir.path() + "/gnis.gpx"), text);
        QCOMPARE(filesIn(dir.path()), QStringList{"gnis.gpx"});
    }

    void damagedTextLeavesOldGpx() {
        QTemporaryDir dir, in;
        writeAll(dir.path() + "/gnis.gpx", "old");
        Archive a;
        Member text{"Text/DomesticNames_MA.txt", file({record("A", "Summit", "42.1", "-73.1")})};
        text.declaredCrc = 0x12345678;
        a.members << text;
        writeAll(in.path() + "/ma.zip", a.bytes());
        const Run run = convertFrom(dir.path(), in.path() + "/ma.zip", {kMA});
        QVERIFY(!run.ok);
        QCOMPARE(run.statusBar, QString("GNIS ERROR: Data checksum error in Text/DomesticNames_MA.txt"));
        QCOMPARE(filesIn(dir.path()), QStringList{"gnis.gpx"});
        QCOMPARE(readAll(dir.path() + "/gnis.gpx"), QByteArray("old"));
    }

    void unwritableOutputKeepsOldFile_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("gnis.gpx is a folder") << "folder";
        QTest::newRow("file size limit (disk full)") << "fsize";
    }
    void unwritableOutputKeepsOldFile() {
        QFETCH(QString, how);
        QTemporaryDir dir;
        QList<QByteArray> records;
        for (int i = 0; i < 40000; ++i)
            records << record("Peak " + QByteArray::number(i), "Summit", "42.1", "-73.1", "100");
        const QByteArray text = file(records);
        if (how == "folder") {
            QVERIFY(QDir(dir.path()).mkdir("gnis.gpx"));
        } else {
            writeAll(dir.path() + "/gnis.gpx", "old gpx");
        }
        // A real write failure: the kernel refuses to grow any file beyond 64 KiB.
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        QTemporaryDir in;
        writeAll(in.path() + "/input.txt", text); // in place before any limit applies
        if (how == "fsize") {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit small = saved;
            small.rlim_cur = 64 * 1024;
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        JobSettings settings;
        settings.outputFolder = fsPath(dir.path());
        settings.inputText = fsPath(in.path() + "/input.txt");
        Recorder rec;
        const JobOutcome outcome = RunJob(Job::Gpx, settings, rec);
        setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(!outcome.ok);
        const QString said = QString::fromStdString(outcome.text);
        QVERIFY2(said.startsWith("GNIS ERROR: Can't ") && said.contains(dir.path() + "/gnis.gpx"), qPrintable(said));
        if (how == "fsize") {
            QVERIFY2(said.contains("too large"), qPrintable(said));
            QCOMPARE(readAll(dir.path() + "/gnis.gpx"), QByteArray("old gpx"));
        } else {
            QVERIFY(QFileInfo(dir.path() + "/gnis.gpx").isDir());
        }
        QCOMPARE(filesIn(dir.path()), how == "fsize" ? QStringList{"gnis.gpx"} : QStringList{});
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
        // Today's Domestic Names: lower-case header, text in Text/, no elevations.
        QTest::newRow("Massachusetts today")
            << currentSample("MA") << "MA" << 8361
            << wpt("42.6371703", "-73.1659399", {}, "Mount Greylock", "Summit", "Williamstown", "0x6616");
        QTest::newRow("Hawaii today, ʻokina kept")
            << currentSample("HI") << "HI" << 4673
            << wpt("22.0807147", "-159.6663889", {}, "Puʻukapele", "Summit", "Waimea Canyon", "0x6616");
        QTest::newRow("Rhode Island today")
            << currentSample("RI") << "RI" << 1522
            << wpt("41.2236505", "-71.5748974", {}, "Beach Plum Hill", "Summit", "Block Island", "0x6616");
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

QTEST_GUILESS_MAIN(CreateGpxTest)
#include "test_create_gpx.moc"
