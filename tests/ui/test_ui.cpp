// The windows with real widgets on the offscreen platform.

#include "ui/dialogs.h"
#include "ui/eliding_label.h"
#include "http_test_server.h"
#include "formats/result_points.h"
#include "ui/main_window.h"
#include "ui/map_view.h"
#include "ui/result_window.h"
#include "ui/startup_window.h"
#include "ui/status_window.h"
#include "gazetteer/states.h"
#include "test_main.h"
#include "test_support.h"
#include "zip_builder.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QWheelEvent>

#include <cmath>
#include <QRegularExpression>
#include <QTabBar>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace gnis;
using namespace testsupport;

namespace {

// Answers the dialogs as a user would, and remembers what they were asked.
struct ScriptedDialogs : Dialogs {
    QString file, folder;
    QString askedFilter, askedInitial, askedTitle;
    QString openFile(QWidget*, const QString& initial, const QString& filter) override {
        askedInitial = initial;
        askedFilter = filter;
        return file;
    }
    QString pickFolder(QWidget*, const QString& title, const QString& initial) override {
        askedTitle = title;
        askedInitial = initial;
        return folder;
    }
    QString openedFolder;
    void openFolder(const QString& f) override { openedFolder = f; }
    QString text, askedLabel;
    QString askText(QWidget*, const QString&, const QString& label, const QString&) override {
        askedLabel = label;
        return text;
    }
    UnsavedAnswer unsaved = UnsavedAnswer::Discard;
    int askedToSave = 0;
    UnsavedAnswer askToSave(QWidget*) override {
        ++askedToSave;
        return unsaved;
    }
};

template <typename T = QWidget>
T* find(QWidget* w, const char* name) {
    T* child = w->findChild<T*>(name);
    if (!child)
        qFatal("no control %s", name);
    return child;
}

void click(QWidget* w, const char* name) { QTest::mouseClick(find<QPushButton>(w, name), Qt::LeftButton); }

// Presses a job's button and waits for the job, which runs off the window's thread, to end.
bool runJob(MainWindow* w, QWidget* in, const char* name) {
    QSignalSpy ended(w, &MainWindow::jobEnded);
    click(in, name);
    return ended.wait(120000);
}
bool runJob(MainWindow* w, const char* name) { return runJob(w, w, name); }

} // namespace

class UiTest : public QObject {
    Q_OBJECT
    QTemporaryDir config_;
    ScriptedDialogs dialogs_;

    QString settingsFile() const { return settingsFileIn(config_.path()); }
    void writeSettings(const QByteArray& text) {
        QDir().mkpath(QFileInfo(settingsFile()).path());
        writeAll(settingsFile(), text);
    }
    void bothToolFolders() {
        // The server is a closed port on loopback, so a download fails at once.
        writeSettings("[Software]\nfwtools=/usr/bin\npostgis=/usr/lib/postgresql/15/bin\ngnisserver=http://127.0.0.1:9\n");
    }

private slots:
    void initTestCase() {
        isolateConfiguration(config_.path());
        SetApplicationIdentity();
        QCOMPARE(QString::fromStdString(SettingsPath().string()), settingsFile());
    }
    void init() { QFile::remove(settingsFile()); }

    void firstRunOpensOnSettings() {
        // The tools on PATH fill empty folders: a machine with gdal-bin and postgis opens on the GNIS page.
        REQUIRE_TOOL("ogr2ogr");
        REQUIRE_TOOL("pgsql2shp");
        {
            MainWindow ready(true, dialogs_);
            QCOMPARE(find<QLineEdit>(&ready, "txtFWTools")->text(),
                     QFileInfo(QStandardPaths::findExecutable("ogr2ogr")).path());
            QCOMPARE(find<QTabBar>(&ready, "TabStrip1")->currentIndex(), 0);
        }
        // Without them, the Settings page first.
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", "/nonexistent");
        MainWindow w(true, dialogs_);
        qputenv("PATH", path);
        w.show();
        QCOMPARE(find<QTabBar>(&w, "TabStrip1")->currentIndex(), 1);
        QCOMPARE(find<QLineEdit>(&w, "txtPostGISHost")->text(), QString("localhost"));
        QCOMPARE(w.statusBarText(), QString(kSiteName));
        QVERIFY(w.isEnabled() && !w.statusWindow()->isVisible());
        QCOMPARE(find<QComboBox>(&w, "cmbGnisState")->count(), int(kStateCount));
        QCOMPARE(find<QComboBox>(&w, "cmbGnisState")->currentIndex(), -1);
        // The GNIS page when asked for: a GPX needs no tool, and a job that lacks one says so before it downloads.
        find<QTabBar>(&w, "TabStrip1")->setCurrentIndex(0);
        QVERIFY(find(&w, "frmTabs1")->isVisible() && find(&w, "frmTabs1")->isEnabled() && !find(&w, "frmTabs2")->isVisible());
        QTemporaryDir mirror, out;
        putFile(bucketArchive(mirror.path(), "MA"), readAll(currentSample("MA")));
        writeSettings(("[Software]\ngnisserver=" + mirror.path() + "\n[User]\ngnis=" + out.path() + "\nstate=MA\n").toUtf8());
        qputenv("PATH", "/nonexistent");
        MainWindow bare(true, dialogs_);
        bare.show();
        find<QTabBar>(&bare, "TabStrip1")->setCurrentIndex(0);
        const bool gpx = runJob(&bare, "btnGnisGpx"), shp = runJob(&bare, "btnGnisShp");
        qputenv("PATH", path);
        QVERIFY(gpx && shp);
        QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList{"gnis.gpx"});
        QCOMPARE(bare.statusBarText(), QString("GNIS ERROR: ogr2ogr not found on PATH. Set its folder on the Settings page."));
    }

    void internetModesAndPageRule_data() {
        QTest::addColumn<bool>("internet");
        QTest::addColumn<bool>("mirror"); // gnisserver is a folder on this machine
        QTest::addColumn<bool>("cached"); // the download cache holds a copy
        QTest::newRow("with") << true << false << false;
        QTest::newRow("without") << false << false << false;
        QTest::newRow("without, from a local mirror") << false << true << false;
        QTest::newRow("without, from the download cache") << false << false << true;
    }
    void internetModesAndPageRule() {
        QFETCH(bool, internet);
        QFETCH(bool, mirror);
        QFETCH(bool, cached);
        bothToolFolders();
        QTemporaryDir folder;
        const QString cache = qEnvironmentVariable("XDG_CACHE_HOME") + "/trailcrafter-gnis";
        QDir(cache).removeRecursively();
        if (cached) {
            QVERIFY(putFile(cache + "/0123456789abcdef0123456789abcdef.cache", "a copy"));
            QVERIFY(QFile::setPermissions(cache + "/0123456789abcdef0123456789abcdef.cache", QFile::ReadOwner | QFile::WriteOwner));
            QVERIFY(putFile(cache + "/.changes-0123.features.tmp-1-1", "what a killed run left"));
        }
        if (mirror)
            writeSettings(("[Software]\nfwtools=/usr/bin\npostgis=/usr/bin\ngnisserver=" + folder.path() + "\n").toUtf8());
        MainWindow w(internet, dialogs_);
        w.show();
        QCOMPARE(find(&w, "lblNetGnis")->isVisible(), !internet);
        if (!internet)
            QCOMPARE(find<QLabel>(&w, "lblNetGnis")->text(),
                     mirror   ? "Working from the local mirror " + folder.path()
                     : cached ? QString("Without Internet: from the download cache")
                              : QString("System Disabled Without Internet"));
        internet = internet || mirror || cached; // a mirror on this machine, or the cache's copies, need no Internet
        QCOMPARE(find(&w, "cmbGnisState")->isEnabled(), internet);
        for (const char* b : {"btnGnisGpx", "btnGnisShp", "btnGnisProcess", "btnGnisAll"})
            QVERIFY(!find(&w, b)->isEnabled());
        find<QComboBox>(&w, "cmbGnisState")->setCurrentIndex(0);
        // A chosen state enables GPX, SHP and All; Process waits for a shapefile run.
        for (const char* b : {"btnGnisGpx", "btnGnisShp", "btnGnisAll"})
            QVERIFY(find(&w, b)->isEnabled());
        QVERIFY(!find(&w, "btnGnisProcess")->isEnabled());
        // Both tool folders set: the GNIS page first, one page at a time.
        auto* tabs = find<QTabBar>(&w, "TabStrip1");
        QCOMPARE(tabs->currentIndex(), 0);
        QVERIFY(find(&w, "frmTabs1")->isVisible() && !find(&w, "frmTabs2")->isVisible());
        tabs->setCurrentIndex(1);
        QVERIFY(!find(&w, "frmTabs1")->isVisible() && !find(&w, "frmTabs1")->isEnabled());
        QVERIFY(find(&w, "frmTabs2")->isVisible());
        // The Settings page tells what the cache holds, and empties it.
        QVERIFY2(find<ElidingLabel>(&w, "lblCacheState")->fullText().endsWith(" MB in " + cache),
                 qPrintable(find<ElidingLabel>(&w, "lblCacheState")->fullText()));
        click(&w, "btnEmptyCache");
        QCOMPARE(w.statusBarText(), QString("The download cache is empty."));
        QStringList left = QDir(cache).entryList(QDir::Files | QDir::Hidden);
        left.removeAll(".lock"); // the lock runs share
        QCOMPARE(left, QStringList());
        QVERIFY(find<ElidingLabel>(&w, "lblCacheState")->fullText().startsWith(QLocale().toString(0.0, 'f', 1) + " MB in "));
    }

    void shapefileButtons() {
        bothToolFolders();
        MainWindow w(true, dialogs_);
        w.show();
        find<QComboBox>(&w, "cmbGnisState")->setCurrentIndex(FindState("ME"));
        QVERIFY(runJob(&w, "btnGnisShp"));
        QCOMPARE(w.statusBarText(), QString("GNIS Error: No output file set."));
        QVERIFY(find(&w, "btnGnisProcess")->isEnabled()); // enabled after any press
        QTemporaryDir out;
        writeAll(out.path() + "/gnis.shp", "old");
        writeAll(out.path() + "/gnis.gpx", "an earlier run's");
        dialogs_.folder = out.path();
        click(&w, "btnGnisBrowseOut");
        QVERIFY(runJob(&w, "btnGnisAll")); // the download fails: nothing further runs, nothing claims success
        QVERIFY2(w.statusBarText().startsWith("GNIS ERROR: Download failed for Maine: "), qPrintable(w.statusBarText()));
        QCOMPARE(readAll(out.path() + "/gnis.shp"), QByteArray("old"));
        QCOMPARE(readAll(out.path() + "/gnis.gpx"), QByteArray("an earlier run's")); // not this run's to remove
        QVERIFY(w.isEnabled());
    }

    void closesWhenAsked() {
        QTemporaryDir mirror, out;
        putFile(bucketArchive(mirror.path(), "MA"), readAll(currentSample("MA")));
        HttpTestServer server(mirror.path());
        writeAll(out.path() + "/gnis.shp", "a shapefile of an earlier run");
        writeSettings(("[Software]\nfwtools=/usr/bin\npostgis=/usr/bin\ngnisserver=" + server.base("stall") +
                       "\n[User]\ngnis=" + out.path() + "\nstate=MA\n").toUtf8());
        {   // Right after start; Process SHP is there for the folder's shapefile.
            MainWindow w(true, dialogs_);
            w.show();
            QVERIFY(find(&w, "btnGnisProcess")->isEnabled());
            QVERIFY(w.close());
        }
        {   // After a job.
            MainWindow w(true, dialogs_);
            w.show();
            find<QComboBox>(&w, "cmbGnisState")->setCurrentIndex(-1);
            QVERIFY(runJob(&w, "btnGnisGpx"));
            QVERIFY(w.close());
        }
        {   // During one: the job is cancelled, then the window closes by itself.
            MainWindow w(true, dialogs_);
            w.show();
            QSignalSpy ended(&w, &MainWindow::jobEnded);
            click(&w, "btnGnisGpx");
            QTRY_VERIFY(!server.requests.isEmpty());
            QVERIFY(!w.close());
            QVERIFY(ended.wait(20000));
            QCOMPARE(w.statusBarText(), "GNIS Cancelled. Nothing in " + out.path() + " was changed.");
            QTRY_VERIFY(!w.isVisible());
        }
        // Settings typed and not saved: the user is asked, and stays, saves or discards.
        for (const UnsavedAnswer answer : {UnsavedAnswer::Stay, UnsavedAnswer::Save, UnsavedAnswer::Discard}) {
            MainWindow w(true, dialogs_);
            w.show();
            const QString host = "db" + QString::number(int(answer)) + ".example";
            find<QLineEdit>(&w, "txtPostGISHost")->setText(host);
            dialogs_.unsaved = answer;
            dialogs_.askedToSave = 0;
            QCOMPARE(w.close(), answer != UnsavedAnswer::Stay);
            QCOMPARE(dialogs_.askedToSave, 1);
            QCOMPARE(readAll(settingsFile()).contains("host=" + host.toUtf8()), answer == UnsavedAnswer::Save);
        }
        dialogs_.unsaved = UnsavedAnswer::Discard;
    }

    void settingsForEverythingTheProgramReads() {
        writeSettings("[Software]\nfwtools=/usr/bin\npostgis=/usr/bin\nmkgmap=/opt/mkgmap\ngnissource=2021\n"
                      "gnisserver=http://mirror.example/gnis\n[PostGIS]\npass=s3cret\n");
        MainWindow w(true, dialogs_);
        w.show();
        find<QTabBar>(&w, "TabStrip1")->setCurrentIndex(1);
        auto* source = find<QComboBox>(&w, "cmbGnisSource");
        QCOMPARE(source->currentData().toString(), QString("2021"));
        QCOMPARE(find<QLineEdit>(&w, "txtGnisServer")->text(), QString("http://mirror.example/gnis"));
        QCOMPARE(find<QLineEdit>(&w, "txtMkgmap")->text(), QString("/opt/mkgmap"));
        // The password is hidden until asked for.
        auto* pass = find<QLineEdit>(&w, "txtPostGISPass");
        QCOMPARE(pass->echoMode(), QLineEdit::Password);
        find<QCheckBox>(&w, "chkShowPassword")->click();
        QCOMPARE(pass->echoMode(), QLineEdit::Normal);
        // Chosen on the page, used by the next job, saved under the keys the programs read.
        QTemporaryDir mirror;
        dialogs_.file = "/usr/local/bin/mkgmap";
        dialogs_.folder = mirror.path();
        click(&w, "btnBrowseMkgmap");
        click(&w, "btnBrowseServer");
        dialogs_.file = mirror.path() + "/my-classes.txt";
        click(&w, "btnBrowseClasses");
        source->setCurrentIndex(source->findData("2009"));
        const JobSettings job = w.jobSettings();
        QCOMPARE(job.source, GnisSource::Classic2009);
        QCOMPARE(QString::fromStdString(job.gnisServer), mirror.path());
        QCOMPARE(QString::fromStdString(job.mkgmapFolder.string()), QString("/usr/local/bin"));
        QCOMPARE(QString::fromStdString(job.classTable.string()), mirror.path() + "/my-classes.txt");
        click(&w, "btnSaveSettings");
        const QByteArray saved = readAll(settingsFile());
        for (const QByteArray& line : {QByteArray("mkgmap=/usr/local/bin"), "gnisserver=" + mirror.path().toUtf8(),
                                       QByteArray("gnissource=2009"), "classes=" + mirror.path().toUtf8() + "/my-classes.txt"})
            QVERIFY2(saved.contains(line + "\n"), saved.constData());
        // "Test connection" asks the database with the page's values and says what came back.
        find<QLineEdit>(&w, "txtPostGISHost")->setText("127.0.0.1");
        find<QLineEdit>(&w, "txtPostGISPort")->setText("9");
        click(&w, "btnTestConnection");
        QTRY_VERIFY_WITH_TIMEOUT(w.statusBarText().startsWith("Connection failed: psql failed: "), 15000);
        if (qEnvironmentVariableIsEmpty("GNIS_PG_PORT")) {
            if (underCi())
                QFAIL("no private PostgreSQL cluster (scripts/pg-start.sh sets GNIS_PG_*)");
            return;
        }
        for (const auto& [box, variable] : {std::pair{"txtPostGISHost", "GNIS_PG_HOST"}, std::pair{"txtPostGISPort", "GNIS_PG_PORT"},
                                            std::pair{"txtPostGISDatabase", "GNIS_PG_DATABASE"},
                                            std::pair{"txtPostGISUser", "GNIS_PG_USER"}, std::pair{"txtPostGISPass", "GNIS_PG_PASSWORD"}})
            find<QLineEdit>(&w, box)->setText(qEnvironmentVariable(variable));
        click(&w, "btnTestConnection");
        QTRY_VERIFY_WITH_TIMEOUT(w.statusBarText().startsWith("Connected: PostGIS 3"), 15000);
    }

    void statusWindowShowsTheToolAtWork() {
        QTemporaryDir mirror, out, tools;
        putFile(bucketArchive(mirror.path(), "MA"), readAll(currentSample("MA")));
        writeAll(tools.path() + "/ogr2ogr", "#!/bin/sh\nsleep 2.5\nexit 3\n");
        QFile::setPermissions(tools.path() + "/ogr2ogr", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        writeSettings(("[Software]\nfwtools=" + tools.path() + "\npostgis=/usr/bin\ngnisserver=" + mirror.path() +
                       "\n[User]\ngnis=" + out.path() + "\nstate=MA\n").toUtf8());
        MainWindow w(true, dialogs_);
        w.show();
        QSignalSpy ended(&w, &MainWindow::jobEnded);
        click(&w, "btnGnisShp");
        // A busy bar, the tool's name and the seconds it has worked, counting.
        QTRY_COMPARE(w.statusWindow()->statusText(), QString("Converting To Shapefile\nogr2ogr, 1 s"));
        QVERIFY(w.statusWindow()->progressBar()->isVisible() && w.statusWindow()->progressBar()->maximum() == 0);
        QVERIFY(ended.wait(20000));
        QVERIFY(w.statusBarText().startsWith("GNIS ERROR: ogr2ogr failed"));
    }

    void readableAndNamed() {
        bothToolFolders();
        MainWindow w(true, dialogs_);
        w.show();
        // The status text in the normal text colour: at least 4.5:1 against its background.
        auto luminance = [](const QColor& c) {
            auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
            return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
        };
        auto* status = find<QLabel>(w.statusWindow(), "lblStatus");
        QVERIFY(status->isEnabled());
        const double text = luminance(status->palette().color(QPalette::Active, status->foregroundRole()));
        const double ground = luminance(w.statusWindow()->palette().color(QPalette::Active, QPalette::Window));
        QVERIFY2((std::max(text, ground) + 0.05) / (std::min(text, ground) + 0.05) >= 4.5, qPrintable(QString::number(text)));
        // Every control has a name a screen reader can say.
        for (QWidget* control : w.findChildren<QWidget*>()) {
            if (!qobject_cast<QLineEdit*>(control) && !qobject_cast<QComboBox*>(control) &&
                !qobject_cast<QAbstractButton*>(control))
                continue;
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
            QVERIFY2(accessible && !accessible->text(QAccessible::Name).isEmpty(), qPrintable(control->objectName()));
        }
    }

    void windowsComeBackWithTheirIcon() {
        bothToolFolders();
        MainWindow w(true, dialogs_);
        w.move(300, 200);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!w.windowIcon().isNull());
        // The status window is centred over the main window as it is when a job starts.
        find<QComboBox>(&w, "cmbGnisState")->setCurrentIndex(FindState("ME"));
        QVERIFY(runJob(&w, "btnGnisGpx"));
        QVERIFY(!w.statusWindow()->windowIcon().isNull());
        const QPoint off = w.statusWindow()->geometry().center() - w.frameGeometry().center();
        QVERIFY2(off.manhattanLength() <= 40, qPrintable(QString("%1,%2").arg(off.x()).arg(off.y())));
        // Details comes back when asked for again after it was minimized.
        w.showDetails();
        auto* details = find<QDialog>(&w, "details");
        details->showMinimized();
        w.showDetails();
        QVERIFY(!(details->windowState() & Qt::WindowMinimized) && details->isVisible());
    }

    void nationalMapOpensOnTheBulk() {
        // The lower 48 with far-off territories: Alaska and the Aleutians past the
        // antimeridian, Hawaii, Guam, Samoa.
        auto points = std::make_shared<ResultPoints>();
        points->types.push_back({"0x6616", "Summit", 0});
        auto add = [&](float lon, float lat, const std::string& name) {
            points->lon.push_back(lon);
            points->lat.push_back(lat);
            points->type.push_back(0);
            points->names += name;
            points->nameEnd.push_back(std::uint32_t(points->names.size()));
            ++points->types[0].count;
        };
        for (int i = 0; i < 20000; ++i)
            add(-125.0f + 58.0f * float(i % 200) / 199.0f, 25.0f + 24.0f * float(i / 200) / 99.0f, "Peak");
        for (int i = 0; i < 300; ++i)
            add(-165.0f + 0.1f * float(i % 100), 60.0f, "Alaska");
        for (const float lon : {172.9f, 144.7f, -170.7f})
            for (int i = 0; i < 20; ++i)
                add(lon, lon > 170 ? 52.9f : (lon > 0 ? 13.4f : -14.3f), "Far");
        add(-71.06f, 42.36f, "Boston Common");
        MapView map;
        map.resize(800, 500);
        map.setPoints(points);
        map.show();
        QVERIFY(QTest::qWaitForWindowExposed(&map));
        auto screenX = [&](double lon) {
            const double squeeze = std::max(0.05, std::cos(map.centre().y() * M_PI / 180.0));
            return (lon - map.centre().x()) * squeeze * map.scale() + map.width() / 2.0;
        };
        QVERIFY2(screenX(-67) - screenX(-125) >= 0.5 * map.width(), qPrintable(QString::number(screenX(-67) - screenX(-125))));
        // Resizing keeps the view's centre and scale.
        const QPointF centre = map.centre();
        const double scale = map.scale();
        map.resize(900, 640);
        QTRY_COMPARE(map.size(), QSize(900, 640));
        QCOMPARE(map.centre(), centre);
        QCOMPARE(map.scale(), scale);
        // The point under the pointer by its name and class.
        const QPoint boston(int(screenX(-71.06)), int(map.height() / 2.0 - (42.36 - map.centre().y()) * map.scale()));
        QCOMPARE(map.pointAt(boston), QString("Boston Common (Summit)"));
        // The keyboard: + zooms, an arrow pans, Home brings in Guam and the rest.
        QTest::keyClick(&map, Qt::Key_Plus);
        QVERIFY(map.scale() > scale);
        QTest::keyClick(&map, Qt::Key_Left);
        QVERIFY(map.centre().x() < centre.x());
        QTest::keyClick(&map, Qt::Key_Home);
        QVERIFY(screenX(144.7) <= map.width() && screenX(-170.7) >= 0);
    }

    void everyControlByKeyboard() {
        bothToolFolders();
        MainWindow w(true, dialogs_);
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        find<QComboBox>(&w, "cmbGnisState")->setCurrentIndex(FindState("ME"));
        // Tab goes through the GNIS page in the order of its controls, then to the status bar's link.
        find(&w, "cmbGnisState")->setFocus();
        QStringList visited;
        for (int i = 0; i < 14; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        const QStringList order{"btnGnisBrowseOut", "txtGnisArea", "btnWholeState", "btnGnisGpx", "btnGnisShp", "btnGnisAll", "lnkDetails"};
        qsizetype at = -1;
        for (const QString& name : order) {
            at = visited.indexOf(name, at + 1);
            QVERIFY2(at >= 0, qPrintable(name + " not reached in order: " + visited.join(", ")));
        }
        // Return presses the focused button, as Space does.
        find(&w, "btnGnisGpx")->setFocus();
        QSignalSpy ended(&w, &MainWindow::jobEnded);
        QTest::keyClick(find(&w, "btnGnisGpx"), Qt::Key_Return);
        QVERIFY(ended.wait(20000));
        // On each page and in the result window, no two controls share a mnemonic.
        ResultWindow result;
        for (QWidget* page : {find(&w, "frmTabs1"), find(&w, "frmTabs2"), static_cast<QWidget*>(&result)}) {
            QStringList keys;
            auto take = [&keys](const QString& text) {
                if (const qsizetype amp = text.indexOf('&'); amp >= 0)
                    keys << text.mid(amp + 1, 1).toLower();
            };
            for (QAbstractButton* b : page->findChildren<QAbstractButton*>())
                take(b->text());
            for (QLabel* l : page->findChildren<QLabel*>())
                if (l->buddy())
                    take(l->text());
            QVERIFY2(keys.size() >= 2 && keys.removeDuplicates() == 0, qPrintable(page->objectName()));
        }
        // Escape closes Details and the result window.
        w.showDetails();
        auto* details = find<QDialog>(&w, "details");
        QVERIFY(QTest::qWaitForWindowExposed(details));
        QTest::keyClick(details, Qt::Key_Escape);
        QVERIFY(!details->isVisible());
        result.show(std::string("GNIS result"), nullptr, nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(&result));
        QTest::keyClick(&result, Qt::Key_Escape);
        QVERIFY(!result.isVisible());
    }

    void browseButtons() {
        writeSettings("[Software]\nfwtools=/before\npostgis=/before\n");
        MainWindow w(true, dialogs_);
        w.show();
        find<QTabBar>(&w, "TabStrip1")->setCurrentIndex(1);
        dialogs_.file = "/opt/ogr2ogr/bin/ogr2ogr"; // the tool's name is also a folder's
        click(&w, "btnBrowseFWTools");
        QCOMPARE(dialogs_.askedFilter, QString("GDAL tools (ogr2ogr)"));
        QCOMPARE(dialogs_.askedInitial, QString("/before"));
        QCOMPARE(find<QLineEdit>(&w, "txtFWTools")->text(), QString("/opt/ogr2ogr/bin"));
        dialogs_.file.clear(); // cancelled: nothing changes
        click(&w, "btnBrowsePostGIS");
        QCOMPARE(dialogs_.askedFilter, QString("PostGIS (pgsql2shp)"));
        QCOMPARE(find<QLineEdit>(&w, "txtPostGIS")->text(), QString("/before"));
        QVERIFY(!readAll(settingsFile()).contains("/opt/ogr2ogr/bin")); // tool folders are saved only by Save
        // The output folder is stored at once; the next pick starts there.
        find<QTabBar>(&w, "TabStrip1")->setCurrentIndex(0);
        dialogs_.folder = "/home/me/maps";
        click(&w, "btnGnisBrowseOut");
        click(&w, "btnGnisBrowseOut");
        QCOMPARE(dialogs_.askedInitial, QString("/home/me/maps"));
        QCOMPARE(find<QLineEdit>(&w, "txtGnisOutput")->text(), QString("/home/me/maps"));
        QVERIFY(readAll(settingsFile()).contains("\ngnis=/home/me/maps\n"));
    }

    void saveSettings() {
        // A password saved by hand in Windows-1252 and with blanks: the window neither mangles it nor sends it changed.
        writeSettings("[Software]\nfwtools=/usr/bin\npostgis=/usr/bin\n[PostGIS]\npass=\" caf\xE9 \"\n");
        MainWindow w(true, dialogs_);
        w.show();
        QCOMPARE(w.jobSettings().password, std::string(" caf\xE9 "));
        find<QTabBar>(&w, "TabStrip1")->setCurrentIndex(1);
        auto* states = find<QComboBox>(&w, "cmbGnisState");
        states->setCurrentIndex(11);
        find<QLineEdit>(&w, "txtPostGISDatabase")->setText("gis");
        click(&w, "btnSaveSettings");
        click(&w, "btnSaveSettings");
        QCOMPARE(w.statusBarText(), QString("Settings Saved"));
        QCOMPARE(states->count(), int(kStateCount)); // the list is not loaded twice
        QCOMPARE(states->currentIndex(), 11);
        QVERIFY(readAll(settingsFile()).contains("[PostGIS]\npass=\" caf\xE9 \"\nhost=localhost\ndatabase=gis\nuser=\nport=\n"));

        const QByteArray before = readAll(settingsFile());
        find<QLineEdit>(&w, "txtPostGISPort")->setText("54a");
        click(&w, "btnSaveSettings");
        QCOMPARE(w.statusBarText(), QString("Settings not saved: The port \"54a\" is not a number from 1 to 65535"));
        find<QLineEdit>(&w, "txtPostGISPort")->setText("5433");
        QCOMPARE(w.jobSettings().port, std::string("5433"));
        find<QLineEdit>(&w, "txtPostGISPass")->setText("pasted\npassword");
        QCOMPARE(w.jobSettings().password, std::string("pasted\npassword")); // an edit is taken as typed
        click(&w, "btnSaveSettings");
        QCOMPARE(w.statusBarText(), QString("Settings not saved: The value of pass holds a line break and can't be stored"));
        QCOMPARE(readAll(settingsFile()), before);
    }

    void outputBoxIsReadOnlyAndStateAndPageRemembered() {
        bothToolFolders();
        {
            MainWindow w(true, dialogs_);
            w.show();
            auto* box = find<QLineEdit>(&w, "txtGnisOutput");
            QCOMPARE(box->focusPolicy(), Qt::NoFocus);
            QTest::keyClicks(box, "/typed");
            QCOMPARE(box->text(), QString());
            find<QComboBox>(&w, "cmbGnisState")->setCurrentIndex(FindState("RI"));
            find<QTabBar>(&w, "TabStrip1")->setCurrentIndex(1);
        }
        QVERIFY(readAll(settingsFile()).contains("state=RI\n"));
        MainWindow again(true, dialogs_);
        QCOMPARE(find<QComboBox>(&again, "cmbGnisState")->currentIndex(), FindState("RI"));
        QVERIFY(find(&again, "btnGnisGpx")->isEnabledTo(find(&again, "frmTabs1")));
        QCOMPARE(find<QTabBar>(&again, "TabStrip1")->currentIndex(), 1);
    }

    void longErrorsElidedAndReadableInDetails() {
        bothToolFolders();
        MainWindow w(true, dialogs_);
        w.show();
        find<QComboBox>(&w, "cmbGnisState")->setCurrentIndex(FindState("VT"));
        QTemporaryDir out;
        dialogs_.folder = out.path() + "/a folder with a long name to push the message past the edge of the window";
        QDir().mkpath(dialogs_.folder);
        click(&w, "btnGnisBrowseOut");
        QVERIFY(runJob(&w, "btnGnisGpx")); // the server is a closed port: a long error
        const QString full = w.statusBarText();
        QVERIFY2(full.startsWith("GNIS ERROR: Download failed for Vermont: "), qPrintable(full));
        auto* label = find<QLabel>(&w, "sbMainText");
        QVERIFY2(label->text().endsWith(QChar(0x2026)) && label->text().size() < full.size(), qPrintable(label->text()));
        QCOMPARE(label->toolTip(), full);
        w.showDetails();
        const QString details = find<QPlainTextEdit>(&w, "txtDetails")->toPlainText();
        QVERIFY2(details.startsWith(full) && details.contains("] Downloading GNIS Zip File"), qPrintable(details));
        QVERIFY(!find(&w, "lnkShowResult")->isVisible()); // nothing to show after a failure
    }

    void layoutsThatGrow_data() {
        QTest::addColumn<double>("factor"); // of the font's size: 1.5 is a 144-dpi screen's
        QTest::newRow("the default font") << 1.0;
        QTest::newRow("half as large again") << 1.5;
    }
    void layoutsThatGrow() {
        QFETCH(double, factor);
        bothToolFolders();
        MainWindow w(true, dialogs_);
        // Every font set on a widget, scaled once (the others follow their parents').
        std::vector<std::pair<QWidget*, QFont>> fonts;
        for (QWidget* widget : QList<QWidget*>{&w} + w.findChildren<QWidget*>()) {
            if (widget != &w && !widget->testAttribute(Qt::WA_SetFont))
                continue;
            QFont f = widget->font();
            f.setPointSizeF(f.pointSizeF() * factor);
            fonts.emplace_back(widget, f);
        }
        for (const auto& [widget, font] : fonts)
            widget->setFont(font);
        // The layouts take in the new sizes, as they do when a window is made at a larger font.
        for (QLayout* layout : w.findChildren<QLayout*>())
            layout->invalidate();
        w.layout()->activate();
        w.resize(w.minimumSizeHint());
        find<QLineEdit>(&w, "txtPostGISPort")->setText("55488");
        for (const int page : {0, 1}) {
            find<QTabBar>(&w, "TabStrip1")->setCurrentIndex(page);
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            // No text is cut: each fits the control it stands in, a five-digit port too.
            for (QWidget* control : w.findChildren<QWidget*>()) {
                if (!control->isVisible())
                    continue;
                QString text;
                int room = control->contentsRect().width();
                if (auto* l = qobject_cast<QLabel*>(control); l && !l->wordWrap() && !l->text().startsWith('<'))
                    text = l->text();
                else if (auto* b = qobject_cast<QPushButton*>(control))
                    text = b->text().remove('&'), room -= 6;
                else if (auto* e = qobject_cast<QLineEdit*>(control); e && e->objectName() == "txtPostGISPort")
                    text = e->text(), room -= 6;
                if (text.isEmpty() || control->objectName() == "sbMainText")
                    continue;
                QVERIFY2(control->fontMetrics().horizontalAdvance(text) <= room,
                         qPrintable(control->objectName() + ": " + text + " in " + QString::number(room)));
            }
        }
        // At the default font the old width, a little taller (the area and cache rows), and within an 800 × 600 screen.
        if (factor == 1.0)
            QVERIFY2(std::abs(w.width() - 462) <= 12 && w.height() <= 450,
                     qPrintable(QString("%1x%2").arg(w.width()).arg(w.height())));
        QVERIFY(w.maximumSize().width() > w.width()); // the user may make it larger
        ResultWindow result;
        QVERIFY(result.width() <= 800 && result.height() <= 600 && w.statusWindow()->width() <= 800);
    }

    void otherWindows() {
        MainWindow* opened = nullptr;
        bool asked = true;
        auto* startup = new StartupWindow([&](bool internet) {
            asked = internet;
            opened = new MainWindow(internet, dialogs_);
            return opened;
        });
        startup->setAttribute(Qt::WA_DeleteOnClose);
        startup->show();
        QVERIFY(QTest::qWaitForWindowActive(startup));
        QCOMPARE(QApplication::focusWidget(), find(startup, "btnInternet"));
        QPointer<StartupWindow> watch(startup);
        click(startup, "btnNoNet");
        QVERIFY(!asked);
        QVERIFY(opened && opened->isVisible());
        QVERIFY(!find(opened, "lblNetGnis")->isHidden()); // on the GNIS page, under the Settings page
        QTRY_VERIFY(watch.isNull()); // the startup window closed
        delete opened;
    }

    void cancelledDownloadLeavesAllAsItWasAndNoClickOutlivesIt() {
        QTemporaryDir mirror, out;
        putFile(bucketArchive(mirror.path(), "MA"), readAll(currentSample("MA")));
        HttpTestServer server(mirror.path());
        writeSettings(("[Software]\nfwtools=/usr/bin\npostgis=/usr/bin\ngnisserver=" + server.base("stall") +
                       "\n[User]\ngnis=" + out.path() + "\n").toUtf8());
        writeAll(out.path() + "/gnis.zip", readAll(currentSample("MA"))); // an older archive: not used after a cancel
        writeAll(out.path() + "/gnis.gpx", "older");
        MainWindow w(true, dialogs_);
        w.show();
        find<QComboBox>(&w, "cmbGnisState")->setCurrentIndex(FindState("MA"));
        int tries = 0;
        std::function<void()> duringDownload = [&] {
            if (server.requests.isEmpty() && ++tries < 100) { // the request has not reached the server yet
                QTimer::singleShot(50, duringDownload);
                return;
            }
            // Clicks on every button, delivered at once and queued, while the download runs.
            for (const char* name : {"btnGnisGpx", "btnGnisShp", "btnGnisProcess", "btnGnisAll"}) {
                auto* button = find<QPushButton>(&w, name);
                QTest::mouseClick(button, Qt::LeftButton);
                const QPointF at = button->rect().center();
                for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
                    QCoreApplication::postEvent(button, new QMouseEvent(type, at, button->mapToGlobal(at), Qt::LeftButton,
                                                                        type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                                                        Qt::NoModifier));
            }
            QVERIFY(w.statusWindow()->isVisible() && !w.isEnabled());
            QTest::mouseClick(find<QPushButton>(w.statusWindow(), "btnCancel"), Qt::LeftButton);
        };
        QTimer::singleShot(50, duringDownload);
        QVERIFY(runJob(&w, "btnGnisGpx"));
        const QString cancelled = "GNIS Cancelled. Nothing in " + out.path() + " was changed.";
        QCOMPARE(w.statusBarText(), cancelled);
        QTest::qWait(300);
        QCOMPARE(w.statusBarText(), cancelled); // no job started after the stage
        QCOMPARE(server.requests.size(), 1);
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"gnis.gpx", "gnis.zip"}));
        QCOMPARE(readAll(out.path() + "/gnis.gpx"), QByteArray("older"));
        QCOMPARE(readAll(out.path() + "/gnis.zip"), readAll(currentSample("MA")));
    }

    void gnisToGpxFromTheWindow() {
        QTemporaryDir mirror, out;
        putFile(bucketArchive(mirror.path(), "MA"), readAll(currentSample("MA")));
        HttpTestServer server(mirror.path());
        for (const QString& mode : {QString("ok"), QString("404")}) {
            writeSettings(("[Software]\nfwtools=/usr/bin\npostgis=/usr/bin\ngnisserver=" + server.base(mode) +
                           "\n[User]\ngnis=" + out.path() + "\n").toUtf8());
            MainWindow w(true, dialogs_);
            w.show();
            find<QComboBox>(&w, "cmbGnisState")->setCurrentIndex(FindState("MA"));
            QVERIFY(runJob(&w, "btnGnisGpx"));
            if (mode == "ok") {
                // What went in and what the class table left out, counted apart from this code.
                QCOMPARE(w.statusBarText(),
                         QString("GNIS GPX file created. 8361 waypoints written from 13086 records; 4725 left out by "
                                 "the class table (Stream 2,112, Lake 1,545, Civil 377, Beach 245, Census 215, …); "
                                 "0 duplicates skipped; 0 skipped as malformed. Nothing to compare with: the first run of these "
                                 "states, source, class table and area. Written: " + out.path() + "/gnis.gpx."));
                QCOMPARE(readAll(out.path() + "/gnis.gpx").count("<wpt "), 8361);
                QCOMPARE(w.statusWindow()->statusText(), QString("Creating GNIS GPX File"));
                // The result: counts by class, and the points on a map that zooms and pans.
                QVERIFY(find(&w, "lnkShowResult")->isVisible());
                w.showResult();
                ResultWindow* result = w.resultWindow();
                QVERIFY(result && result->isVisible());
                // The points are read off the window's thread, which stays free meanwhile.
                QTRY_VERIFY(result->countsText().contains("8,361 points on the map."));
                click(result, "btnOpenFolder"); // the folder of the files, in the desktop's file manager
                QCOMPARE(dialogs_.openedFolder, out.path());
                QVERIFY2(result->countsText().contains("Written, by class:\n") && result->countsText().contains("  Summit\n") &&
                             result->countsText().contains("Left out by the class table (4,725):\n      2,112  Stream\n"),
                         qPrintable(result->countsText()));
                MapView* map = result->mapView();
                QVERIFY(QTest::qWaitForWindowExposed(result));
                const QImage drawn = map->grab().toImage();
                int coloured = 0; // pixels of the largest type's colour
                const QRgb first = map->colourOf(0) == MapView::kOther ? 0 : map->colourOf(0);
                for (int y = 0; y < drawn.height(); ++y)
                    for (int x = 0; x < drawn.width(); ++x)
                        coloured += drawn.pixel(x, y) == first;
                QVERIFY2(coloured > 500, qPrintable(QString::number(coloured)));
                const double scale = map->scale();
                QWheelEvent wheel(QPointF(100, 100), map->mapToGlobal(QPointF(100, 100)), {}, {0, 120}, Qt::NoButton,
                                  Qt::NoModifier, Qt::NoScrollPhase, false);
                QApplication::sendEvent(map, &wheel);
                QVERIFY(map->scale() > scale * 1.2);
                const QPointF centre = map->centre();
                QTest::mousePress(map, Qt::LeftButton, {}, QPoint(200, 200));
                QTest::mouseMove(map, QPoint(260, 200));
                QTest::mouseRelease(map, Qt::LeftButton, {}, QPoint(260, 200));
                QVERIFY(map->centre().x() < centre.x());

                // "Save as GeoPackage…" writes the same run as gnis.gpkg; the result stays.
                REQUIRE_TOOL("ogr2ogr");
                QVERIFY(runJob(&w, result, "btnSaveGpkg"));
                QVERIFY2(w.statusBarText().startsWith("GNIS GeoPackage created. 8361 waypoints written"), qPrintable(w.statusBarText()));
                QVERIFY(QFileInfo(out.path() + "/gnis.gpkg").size() > 0);
                QVERIFY(result->isVisible() && find(&w, "lnkShowResult")->isVisible());
                QFile::remove(out.path() + "/gnis.gpkg");

                // A box drawn with Shift on the map becomes the next run's area, and a
                // class left out goes on the map: both saved, both in the next run.
                QVERIFY(!find(result, "btnUseArea")->isEnabled());
                const QPointF before = map->centre();
                QTest::mousePress(map, Qt::LeftButton, Qt::ShiftModifier, QPoint(100, 100));
                QTest::mouseMove(map, QPoint(300, 260));
                QTest::mouseRelease(map, Qt::LeftButton, Qt::ShiftModifier, QPoint(300, 260));
                const QRectF box = map->box();
                QVERIFY(!box.isNull() && find(result, "btnUseArea")->isEnabled());
                QCOMPARE(map->centre(), before); // drawing does not pan
                click(result, "btnUseArea");
                const QString areaText = find<QLineEdit>(&w, "txtGnisArea")->text();
                Area area;
                QVERIFY2(area.setText(areaText.toStdString()) && area.hasBox(), qPrintable(areaText));
                QVERIFY(std::abs(area.west() - box.left()) < 1e-6 && std::abs(area.north() - box.bottom()) < 1e-6);
                QVERIFY2(w.statusBarText().startsWith("The area of the next run: box "), qPrintable(w.statusBarText()));
                QVERIFY(readAll(settingsFile()).contains("area=" + areaText.toUtf8() + "\n"));
                auto* leftOut = find<QListWidget>(result, "lstLeftOut");
                leftOut->setCurrentRow(int(result->leftOutClasses().indexOf("Lake")));
                dialogs_.text = "0x650D";
                click(result, "btnAddClass");
                QCOMPARE(dialogs_.askedLabel, QString("Map type code for Lake (0x and up to four hexadecimal digits):"));
                const QString table = QFileInfo(settingsFile()).absolutePath() + "/classes.txt";
                QVERIFY(readAll(table).contains("\nLake 0x650D\n"));
                QVERIFY(readAll(settingsFile()).contains("classes=" + table.toUtf8() + "\n"));
                QVERIFY(runJob(&w, "btnGnisGpx"));
                QVERIFY2(QRegularExpression("; [1-9]\\d* outside the area;").match(w.statusBarText()).hasMatch(),
                         qPrintable(w.statusBarText()));
                QVERIFY(readAll(out.path() + "/gnis.gpx").contains("<desc>Lake</desc>"));
                // Every point inside the area, as the file writes it.
                QRegularExpression position("<wpt lat=\"([^\"]+)\" lon=\"([^\"]+)\">");
                int inArea = 0;
                for (auto m = position.globalMatch(QString::fromUtf8(readAll(out.path() + "/gnis.gpx"))); m.hasNext(); ++inArea) {
                    const auto p = m.next();
                    QVERIFY2(area.containsPosition(p.captured(1).toDouble(), p.captured(2).toDouble()), qPrintable(p.captured(0)));
                }
                QVERIFY(inArea > 0 && inArea < 8361);
                w.showResult();
                QTRY_VERIFY(!w.resultWindow()->leftOutClasses().isEmpty());
                QVERIFY(!w.resultWindow()->leftOutClasses().contains("Lake"));
                // A typed area that does not read starts nothing and says why.
                find<QLineEdit>(&w, "txtGnisArea")->setText("bbox 1,2,3");
                click(&w, "btnGnisGpx");
                QCOMPARE(w.statusBarText(), QString("GNIS ERROR: The area: the box \"1,2,3\" has 3 numbers, not 4; give "
                                                    "WEST,SOUTH,EAST,NORTH in decimal degrees, such as -71.9,43.9,-70.9,44.6"));
                QVERIFY(!w.statusWindow()->isVisible());
                QVERIFY(w.resultWindow()->isVisible() && find(&w, "lnkShowResult")->isVisible()); // the last result stays
                // Every run so far asked the server and was told its copy is current: one transfer.
                QCOMPARE(server.bodiesSent, 1);
                click(&w, "btnWholeState");
                find<QLineEdit>(&w, "txtClasses")->clear(); // the built-in table again
                QVERIFY(readAll(settingsFile()).contains("area=\n"));
                // A new release without one summit: fetched, and what changed is told and drawn.
                const QByteArray text = runTool("unzip", {"-p", currentSample("MA"), "Text/DomesticNames_MA.txt"}).out;
                const qsizetype gone = text.indexOf("|Summit|");
                const qsizetype from = text.lastIndexOf('\n', gone) + 1, to = text.indexOf('\n', gone) + 1;
                const QByteArray goneName = text.mid(from, to - from).split('|').value(1);
                QVERIFY(!goneName.isEmpty() && goneName != "Mount Greylock");
                QVERIFY(putFile(bucketArchive(mirror.path(), "MA"),
                                domesticNamesArchive("MA", text.left(from) + text.mid(to))));
                QVERIFY(runJob(&w, "btnGnisGpx")); // the whole state again for the map below
                QCOMPARE(server.bodiesSent, 2);
                QVERIFY2(!w.statusBarText().contains("outside the area"), qPrintable(w.statusBarText()));
                QVERIFY2(w.statusBarText().contains(QDateTime::currentDateTime().toString("yyyy-MM-dd") +
                                                    ": 0 new, 1 removed, 0 renamed, 0 moved."),
                         qPrintable(w.statusBarText()));
                w.showResult();
                result = w.resultWindow();
                QTRY_VERIFY(result->countsText().contains(" points on the map."));
                auto* changedOnly = find<QCheckBox>(result, "chkChangedOnly");
                QVERIFY(changedOnly->isEnabled());
                changedOnly->setChecked(true);
                const ResultPoints* shown = result->mapView()->points();
                QVERIFY(shown && shown->size() == 1);
                QCOMPARE(QByteArray::fromStdString(std::string(shown->name(0))), goneName);
                QCOMPARE(shown->types[shown->type[0]].label, std::string("removed"));
                QVERIFY(result->countsText().contains(": 0 new, 1 removed, 0 renamed, 0 moved.\n"));
                changedOnly->setChecked(false);

                // "Make Garmin map…" runs the Garmin stage for the same job; the result stays.
                REQUIRE_TOOL("mkgmap");
                QVERIFY(runJob(&w, result, "btnMakeGarmin"));
                QVERIFY2(w.statusBarText().startsWith("GNIS Garmin map created. 8360 waypoints written"), qPrintable(w.statusBarText()));
                QCOMPARE(server.bodiesSent, 2); // the run's copy, not fetched again
                QVERIFY(readAll(out.path() + "/gmapsupp.img").contains("Mount Greylock"));
                QVERIFY(find(&w, "lnkShowResult")->isVisible());
                QFile::remove(out.path() + "/gmapsupp.img");
                QFile::remove(out.path() + "/gnis.mp");
            } else {
                QCOMPARE(w.statusBarText(), "GNIS ERROR: Download failed for Massachusetts: " +
                                                bucketArchive(server.base(mode), "MA") + " not found (HTTP 404 Not Found)");
            }
            QVERIFY(w.isEnabled());
            QVERIFY(!w.statusWindow()->isVisible());
            QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList{"gnis.gpx"});
        }
    }
};

GNIS_TEST_CLASS(UiTest)
#include "test_ui.moc"
