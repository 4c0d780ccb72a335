// Download and extraction end to end against a real HTTP server on loopback,
// an offline mirror folder and file: URLs.

#include "create_gpx.h"
#include "download_file.h"
#include "download_gnis_zip.h"
#include "http_test_server.h"
#include "states.h"
#include "test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

using namespace gnis;
using namespace testsupport;

namespace {



// gnis.gpx without its time line, which differs from run to run.
QByteArray withoutTime(QByteArray gpx) {
    const qsizetype at = gpx.indexOf("<time>");
    return at < 0 ? gpx : gpx.remove(at, gpx.indexOf("\r\n", at) - at);
}

const int kMA = 21, kHI = 11;

} // namespace

class DownloadTest : public QObject {
    Q_OBJECT
    QTemporaryDir mirror_; // a copy of the server's tree: docs/stategaz/*.zip
    QTemporaryDir config_;
    std::unique_ptr<HttpTestServer> server_;

    struct Run {
        bool ok;
        QString statusBar;
        QStringList status;
        GpxStats stats;
    };
    Run run(const QString& server, int state, const QString& out, int stallMs = 60000) {
        JobSettings s;
        s.outputFolder = fsPath(out);
        s.stateIndex = state;
        s.gnisServer = server.toStdString();
        s.stallTimeoutMs = stallMs; // the server always answers at once: a generous connect time-out
        s.connectTimeoutMs = 20000;
        Recorder rec;
        Run r;
        r.ok = CreateGnisGpx(s, rec, &r.stats);
        r.statusBar = rec.statusBar();
        r.status = rec.status;
        return r;
    }
    QString url(const QString& mode, const QString& code) const {
        return mirrorArchive(server_->base(mode), code);
    }

private slots:
    void initTestCase() {
        isolateConfiguration(config_.path());
        QVERIFY(putInMirror(mirror_.path(), "MA", readAll(sampleArchive())));
        QVERIFY(putInMirror(mirror_.path(), "HI", readAll(dataFile("HI_Features_20090401.zip"))));
        QVERIFY(putInMirror(mirror_.path(), "GU", "<html>not an archive</html>"));
        server_ = std::make_unique<HttpTestServer>(mirror_.path());
    }

    void archiveUrl() {
        QCOMPARE(QString::fromStdString(GnisArchiveUrl("http://geonames.usgs.gov", 0)),
                 QString("http://geonames.usgs.gov/docs/stategaz/AL_Features_20090401.zip"));
        QCOMPARE(QString::fromStdString(GnisArchiveUrl("http://mirror.example/gnis/", 50)),
                 QString("http://mirror.example/gnis/docs/stategaz/WY_Features_20090401.zip"));
    }

    void downloadFile_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("error"); // empty: success
        QTest::newRow("plain") << "ok" << "";
        QTest::newRow("redirect followed") << "redirect" << "";
        QTest::newRow("chunked body") << "chunked" << "";
        QTest::newRow("not found") << "404" << "HTTP 404 Not Found (" + url("404", "MA") + ")";
        QTest::newRow("server error") << "500" << "HTTP 500 Internal Server Error (" + url("500", "MA") + ")";
        QTest::newRow("body cut off") << "cut" << " of 907579 bytes (" + url("cut", "MA") + ")";
        QTest::newRow("body stalls") << "stall" << "no data arrived for 1 s (" + url("stall", "MA") + ")";
        QTest::newRow("no answer") << "silent" << "no answer from the server within 1 s (" + url("silent", "MA") + ")";
    }
    void downloadFile() {
        QFETCH(QString, mode);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString target = dir.path() + "/gnis.zip";
        writeAll(target, "older archive");
        DownloadOptions options;
        // Short only where the case waits for it, so a busy machine cannot mistake one for the other.
        options.stallTimeoutMs = 1000;
        options.connectTimeoutMs = mode == "silent" ? 1000 : 20000;
        std::int64_t received = 0;
        options.progress = [&](std::int64_t done, std::int64_t) { received = done; };
        const Outcome result = DownloadFile(url(mode, "MA").toStdString(), fsPath(target), options);
        const QByteArray expected = readAll(sampleArchive());
        if (error.isEmpty()) {
            QVERIFY2(result.ok(), result.error().c_str());
            QCOMPARE(readAll(target), expected);
            QCOMPARE(received, expected.size());
        } else {
            QVERIFY(!result.ok());
            QVERIFY2(QString::fromStdString(result.error()).endsWith(error), result.error().c_str());
            QCOMPARE(readAll(target), QByteArray("older archive")); // never touched by a failed download
        }
        QCOMPARE(filesIn(dir.path()), QStringList{"gnis.zip"});
        QVERIFY(server_->requests.last().contains("Cache-Control: no-cache"));
    }

    void eventLoopServedWhileWaiting() {
        // A window repaints from its event loop: it must keep running during a slow download.
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(50);
        QTemporaryDir dir;
        DownloadOptions options;
        options.stallTimeoutMs = 1000;
        const Outcome result = DownloadFile(url("stall", "MA").toStdString(), fsPath(dir.path() + "/gnis.zip"), options);
        QVERIFY(!result.ok());
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    }

    void connectionRefused() {
        QTemporaryDir dir;
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost, 0);
        const quint16 port = closed.serverPort();
        closed.close();
        const Outcome result = DownloadFile(QString("http://127.0.0.1:%1/x.zip").arg(port).toStdString(),
                                            fsPath(dir.path() + "/x.zip"));
        QVERIFY(!result.ok());
        QVERIFY2(QString::fromStdString(result.error()).contains("refused"), result.error().c_str());
        QVERIFY(filesIn(dir.path()).isEmpty());
    }

    void sameGpxFromEverySource() {
        for (const auto& [state, code] : {std::pair{kMA, QString("MA")}, std::pair{kHI, QString("HI")}}) {
            QTemporaryDir fromText;
            JobSettings s;
            s.outputFolder = fsPath(fromText.path());
            s.stateIndex = state;
            s.inputArchive = fsPath(mirrorArchive(mirror_.path(), code));
            Recorder rec;
            QVERIFY(CreateGnisGpx(s, rec));
            const QByteArray reference = withoutTime(readAll(fromText.path() + "/gnis.gpx"));
            QVERIFY(reference.count("<wpt ") > 7000);
            for (const QString& server : {server_->base("ok"), server_->base("chunked"), mirror_.path(),
                                          QUrl::fromLocalFile(mirror_.path()).toString()}) {
                QTemporaryDir out;
                const Run r = run(server, state, out.path());
                QVERIFY2(r.ok, qPrintable(server + ": " + r.statusBar));
                QCOMPARE(r.status.first(), QString("Downloading GNIS Zip File"));
                QVERIFY(r.status.contains("Extracting GNIS Zip File"));
                QCOMPARE(r.status.last(), QString("Creating GNIS GPX File"));
                QVERIFY2(withoutTime(readAll(out.path() + "/gnis.gpx")) == reference, qPrintable(server));
                QCOMPARE(filesIn(out.path()), QStringList{"gnis.gpx"});
                QVERIFY(r.stats.warning.empty());
            }
        }
    }

    void failures_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("statusBar");
        QTest::newRow("404") << "404" << kMA << "GNIS ERROR: Download failed: HTTP 404 Not Found (URL)";
        QTest::newRow("cut off") << "cut" << kMA << "GNIS ERROR: Download failed: the connection ended after ";
        QTest::newRow("stalled") << "stall" << kMA << "GNIS ERROR: Download failed: no data arrived for 1 s (URL)";
        QTest::newRow("error page with 200")
            << "html" << kMA << "GNIS ERROR: The file OUT/gnis.zip is not a Zip file";
        QTest::newRow("archive is not a zip") << "ok" << 10 << "GNIS ERROR: The file OUT/gnis.zip is not a Zip file";
        QTest::newRow("missing on the server") << "ok" << 0 << "GNIS ERROR: Download failed: HTTP 404 Not Found (URL)";
    }
    void failures() {
        QFETCH(QString, mode);
        QFETCH(int, state);
        QFETCH(QString, statusBar);
        QTemporaryDir out;
        writeAll(out.path() + "/gnis.gpx", "older gpx");
        const Run r = run(server_->base(mode), state, out.path(), 1000);
        QVERIFY(!r.ok);
        statusBar.replace("URL", url(mode, QString::fromUtf8(stateCodes[std::size_t(state)].data(), 2)));
        statusBar.replace("OUT", out.path());
        QVERIFY2(r.statusBar.startsWith(statusBar), qPrintable(r.statusBar));
        QVERIFY(!r.status.contains("Creating GNIS GPX File"));
        QCOMPARE(filesIn(out.path()), QStringList{"gnis.gpx"}); // no gnis.zip, no half text
        QCOMPARE(readAll(out.path() + "/gnis.gpx"), QByteArray("older gpx"));
    }

    void olderArchiveIsUsedAndSaidSo() {
        QTemporaryDir out;
        QVERIFY(QFile::copy(sampleArchive(), out.path() + "/gnis.zip"));
        const Run r = run(server_->base("404"), kMA, out.path());
        QVERIFY2(r.ok, qPrintable(r.statusBar));
        QVERIFY2(QString::fromStdString(r.stats.warning).startsWith("The download failed (HTTP 404 Not Found"),
                 r.stats.warning.c_str());
        QVERIFY(QString::fromStdString(r.stats.warning).endsWith("the older gnis.zip in the output folder was used."));
        QCOMPARE(filesIn(out.path()), QStringList{"gnis.gpx"});
        QVERIFY(readAll(out.path() + "/gnis.gpx").contains("Mount Greylock"));
    }

    void archiveWithoutTheStatesText() {
        // The server hands out Massachusetts under Hawaii's name.
        QTemporaryDir wrongMirror, out;
        putInMirror(wrongMirror.path(), "HI", readAll(sampleArchive()));
        const Run r = run(wrongMirror.path(), kHI, out.path());
        QVERIFY(!r.ok);
        QCOMPARE(r.statusBar, QString("GNIS ERROR: No GNIS text file exists"));
        QVERIFY(!filesIn(out.path()).contains("gnis.zip"));
    }

    void gnisConvertEndToEnd_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("loopback server") << "ok" << 0 << "21385 waypoints written";
        QTest::newRow("mirror folder") << "MIRROR" << 0 << "21385 waypoints written";
        QTest::newRow("404") << "404" << 1 << "gnis-convert: GNIS ERROR: Download failed: HTTP 404 Not Found";
        QTest::newRow("error page") << "html" << 1 << "is not a Zip file";
    }
    void gnisConvertEndToEnd() {
        QFETCH(QString, server);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTemporaryDir out;
        const QString base = server == "MIRROR" ? mirror_.path() : server_->base(server);
        const ToolRun r = runTool(QStringLiteral(GNIS_CONVERT),
                                  {"gpx", "--state", "Massachusetts", "--output", out.path(), "--server", base});
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(QString::fromUtf8(exitCode ? r.err : r.out).contains(message), (r.out + r.err).constData());
        QVERIFY(r.err.startsWith("Downloading GNIS Zip File\n"));
        QCOMPARE(filesIn(out.path()), exitCode ? QStringList{} : QStringList{"gnis.gpx"});
    }

    void gnisConvertTakesServerAndFolderFromSettings() {
        QTemporaryDir out;
        const QString ini = settingsFileIn(config_.path());
        QDir().mkpath(QFileInfo(ini).path());
        writeAll(ini, ("[Software]\ngnisserver=" + server_->base("ok") + "\n[User]\ngnis=" + out.path() + "\n").toUtf8());
        const ToolRun r = runTool(QStringLiteral(GNIS_CONVERT), {"gpx", "--state", "MA"});
        QFile::remove(ini);
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains(out.path().toUtf8() + "/gnis.gpx: 21385 waypoints"), r.out.constData());
    }
};

QTEST_GUILESS_MAIN(DownloadTest)
#include "test_download.moc"
