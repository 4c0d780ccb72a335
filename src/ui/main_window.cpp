#include "ui/main_window.h"

#include "ui/dialogs.h"
#include "ui/eliding_label.h"
#include "ui/result_window.h"
#include "ui/fonts.h"
#include "platform/run_and_wait.h"
#include "jobs/run_job.h"
#include "base/file_system.h"
#include "platform/download_file.h"
#include "gazetteer/class_table.h"
#include "platform/download_cache.h"
#include "gazetteer/states.h"
#include "jobs/output_files.h"
#include "ui/status_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <QGridLayout>
#include <QStackedLayout>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>

#include <array>

// The icon is a resource of a static library: the linker keeps it only when asked
// (and the macro's function is declared at the global scope).
static void linkResources() { Q_INIT_RESOURCE(resources); }

namespace gnis {
namespace {

// A control of the pixel table: its name, and its width there as the least it
// takes. Where it stands is the layouts' business (below), and a larger font
// makes it larger.
template <typename W>
W* place(W* widget, const char* name, int left, int top, int width, int height) {
    (void)left, (void)top, (void)height;
    widget->setObjectName(name);
    widget->setMinimumWidth(width);
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, int l, int t, int w, int h) {
    (void)w; // a label is as wide as its text, whatever the font
    return place(new QLabel(text, parent), name, l, t, 0, h);
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, int l, int t, int w, int h) {
    (void)w; // a button is as wide as its caption needs, whatever the font
    return place(new QPushButton(text, parent), name, l, t, 0, h);
}

QLineEdit* textBox(QWidget* parent, const char* name, int l, int t, int w, int h, bool readOnly = false) {
    QLineEdit* box = place(new QLineEdit(parent), name, l, t, w, h);
    box->setReadOnly(readOnly);
    if (readOnly) {
        // Read-only in look and behaviour: its Browse button chooses; the box takes no cursor.
        box->setFocusPolicy(Qt::NoFocus);
        QPalette look = box->palette();
        look.setColor(QPalette::Base, look.color(QPalette::Window));
        box->setPalette(look);
    }
    return box;
}

// A box as wide as a number of digits needs in its own font, whatever that is.
class DigitsBox : public QLineEdit {
public:
    DigitsBox(int digits, QWidget* parent) : QLineEdit(parent), digits_(digits) {}
    QSize minimumSizeHint() const override {
        QSize size = QLineEdit::minimumSizeHint();
        size.setWidth(fontMetrics().horizontalAdvance(QString(digits_ + 1, '0')) + 12);
        return size;
    }
    QSize sizeHint() const override { return minimumSizeHint(); }

private:
    int digits_;
};

QString qs(const std::string& s) { return QString::fromStdString(s); }
// The success text, what was written and left out, and what the user must know besides.
std::string withNotes(std::string outcome, const GpxStats& stats) {
    // Appended piece by piece: GCC 12 at -O3 takes " " + a temporary for an overlapping copy.
    outcome += ' ';
    outcome += stats.countsText();
    outcome += '.';
    for (const std::string* note : {&stats.notes, &stats.changes}) {
        if (!note->empty()) {
            outcome += ' ';
            outcome += *note;
            outcome += '.';
        }
    }
    if (!stats.warning.empty()) {
        outcome += " Warning: ";
        outcome += stats.warning;
    }
    return outcome;
}
std::string ss(const QString& s) { return s.toStdString(); }

// Brings a window back: out of the task bar when minimized, then on top.
void bringBack(QWidget* window) {
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

MainWindow::MainWindow(bool boolInternet, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), boolInternet_(boolInternet), dialogs_(dialogs) {
    setObjectName("main");
    setWindowTitle("Trailcrafter GNIS Data Processing");
    linkResources();
    // Every window of the program carries it, the status and result windows too.
    if (QApplication::windowIcon().isNull())
        QApplication::setWindowIcon(QIcon(":/trailcrafter-gnis.png"));
    setWindowIcon(QApplication::windowIcon());
    // Sized by its layouts: the pixel table's size at the default font, larger
    // with a larger one; the user may make it larger still.
    setFont(windowFont(8.25));
    buildControls();
    loadStep();
    resize(minimumSizeHint()); // the pixel table's width at the default font
}

// How the job's steps reach this window from their thread: every report is a
// queued call, run on the window's thread; a Cancel is a flag the steps read.
class MainWindow::JobReporter : public StatusReporter {
public:
    explicit JobReporter(MainWindow* window) : window_(window) {}
    void setStatusText(const std::string& text) override {
        post([text](MainWindow* w) { w->setStatusText(text); });
    }
    void milestone(const std::string& text) override {
        post([text](MainWindow* w) { w->logStep(text); });
    }
    void progress(std::int64_t done, std::int64_t total) override {
        post([done, total](MainWindow* w) { w->ensureStatusWindow()->setProgress(done, total); });
    }
    void toolRunning(const std::string& tool) override {
        post([tool](MainWindow* w) { w->ensureStatusWindow()->setToolRunning(qs(tool)); });
    }
    bool cancelRequested() override { return cancel.load(); }
    std::atomic<bool> cancel{false};

private:
    template <typename F>
    void post(F f) {
        QMetaObject::invokeMethod(window_, [w = window_, f] { f(w); }, Qt::QueuedConnection);
    }
    MainWindow* window_;
};

MainWindow::~MainWindow() {
    if (testThread_)
        testThread_->wait(); // at most the connect time-out
    // A job still under way is stopped and waited for; its last reports are dropped with the window.
    if (jobThread_) {
        jobReporter_->cancel = true;
        jobThread_->wait();
    }
    stopReader();
}

void MainWindow::stopReader() {
    if (stopReading_)
        stopReading_->store(true);
    if (reader_.joinable())
        reader_.join();
    stopReading_.reset();
}

void MainWindow::buildControls() {
    tabStrip_ = place(new QTabBar(this), "TabStrip1", 0, 0, 465, 25);
    tabStrip_->setDrawBase(false);
    statusBar_ = place(new QStatusBar(this), "sbMain", 0, 324, 462, 17);
    statusBar_->setSizeGripEnabled(false);
    // A permanent label, not showMessage(): a status tip must not wipe an outcome.
    statusBarLabel_ = new ElidingLabel(statusBar_);
    statusBarLabel_->setObjectName("sbMainText");
    statusBar_->addWidget(statusBarLabel_, 1);
    lnkResult_ = new QLabel("<a href=\"result\">Show result</a>", statusBar_);
    lnkResult_->setObjectName("lnkShowResult");
    lnkResult_->hide();
    statusBar_->addPermanentWidget(lnkResult_);
    lnkDetails_ = new QLabel("<a href=\"details\">Details</a>", statusBar_);
    lnkDetails_->setObjectName("lnkDetails");
    statusBar_->addPermanentWidget(lnkDetails_);
    connect(lnkResult_, &QLabel::linkActivated, this, [this] { showResult(); });
    connect(lnkDetails_, &QLabel::linkActivated, this, [this] { showDetails(); });
    // The links are reached by Tab and followed by Return, as a mouse follows them.
    for (QLabel* link : {lnkResult_, lnkDetails_}) {
        link->setTextInteractionFlags(Qt::TextBrowserInteraction);
        link->setFocusPolicy(Qt::StrongFocus);
    }

    QGroupBox* gnis = place(new QGroupBox("USGS GNIS", this), "frmTabs1", 8, 32, 449, 289);
    QGroupBox* settings = place(new QGroupBox("Settings", this), "frmTabs2", 8, 32, 449, 289);
    pages_[0] = gnis;
    pages_[1] = settings;
    // Opaque: where the page rule lays the Settings page over the GNIS page, only it shows.
    for (QGroupBox* page : pages_)
        page->setAutoFillBackground(true);
    settings->setEnabled(false);
    settings->hide();

    QLabel* about = label(gnis, "Label12",
                          "This program will download and process USGS Geonames Information System into either a "
                          "shapefile or a GPX file.  Both files will include an MP_TYPE to allow for easy map creation.",
                          8, 16, 433, 33);
    about->setWordWrap(true);
    // It wraps to the width the other rows give it, and never asks for more.
    about->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    about->setFont(windowFont(7.5)); // two lines, as in the box it was drawn for
    about->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label(gnis, "Label10", "State:", 8, 48, 73, 17);
    cmbGnisState_ = place(new QComboBox(gnis), "cmbGnisState", 40, 48, 185, 21);
    cmbGnisState_->setEditable(false);
    label(gnis, "Label11", "Output Folder:", 8, 72, 73, 17);
    txtGnisOutput_ = textBox(gnis, "txtGnisOutput", 80, 72, 233, 19, true);
    txtGnisOutput_->setToolTip("Choose the output folder with Browse");
    QPushButton* browseOut = button(gnis, "btnGnisBrowseOut", "&Browse", 320, 72, 65, 17);
    // The area of the next run: typed here, or drawn on the result window's map.
    QLabel* areaLabel = label(gnis, "lblGnisArea", "A&rea:", 8, 96, 73, 17);
    txtGnisArea_ = textBox(gnis, "txtGnisArea", 80, 96, 233, 19);
    txtGnisArea_->setPlaceholderText("whole state");
    txtGnisArea_->setToolTip("Empty: the whole state. Or bbox WEST,SOUTH,EAST,NORTH in decimal degrees, or county "
                             "NAME,NAME (Coos NH), or both joined by \"; \". Shift-drag on the result's map draws a box.");
    areaLabel->setBuddy(txtGnisArea_);
    QPushButton* wholeState = button(gnis, "btnWholeState", "&Whole state", 320, 96, 65, 17);
    btnGnisGpx_ = button(gnis, "btnGnisGpx", "GNIS --> &GPX", 8, 96, 81, 25);
    btnGnisShp_ = button(gnis, "btnGnisShp", "GNIS --> &SHP", 8, 128, 81, 25);
    lblNetGnis_ = label(gnis, "lblNetGnis", "System Disabled Without Internet", 160, 120, 209, 17);
    lblNetGnis_->setFrameStyle(QFrame::Box | QFrame::Plain);
    lblNetGnis_->setAlignment(Qt::AlignCenter);
    lblNetGnis_->setAutoFillBackground(true);
    QPalette red = lblNetGnis_->palette();
    red.setColor(QPalette::Window, QColor(255, 128, 128));
    lblNetGnis_->setPalette(red);
    lblNetGnis_->setFont(windowFont(8.25, true));
    lblNetGnis_->hide();
    btnGnisProcess_ = button(gnis, "btnGnisProcess", "&Process SHP", 8, 160, 81, 25);
    btnGnisAll_ = button(gnis, "btnGnisAll", "&All At Once", 360, 160, 81, 25);
    for (QPushButton* b : {btnGnisGpx_, btnGnisShp_, btnGnisProcess_, btnGnisAll_})
        b->setEnabled(false);

    label(settings, "Label3", "GDAL Tools:", 8, 24, 97, 17);
    txtFWTools_ = textBox(settings, "txtFWTools", 104, 24, 257, 19, true);
    QPushButton* browseFw = button(settings, "btnBrowseFWTools", "Browse", 368, 24, 65, 17);
    label(settings, "Label2", "PostGIS Tools:", 8, 48, 97, 17);
    txtPostGIS_ = textBox(settings, "txtPostGIS", 104, 48, 257, 19, true);
    QPushButton* browsePg = button(settings, "btnBrowsePostGIS", "Browse", 368, 48, 65, 17);
    label(settings, "lblMkgmap", "mkgmap:", 8, 72, 97, 17);
    txtMkgmap_ = textBox(settings, "txtMkgmap", 104, 72, 257, 19, true);
    txtMkgmap_->setPlaceholderText("on PATH");
    QPushButton* browseMkgmap = button(settings, "btnBrowseMkgmap", "Browse", 368, 72, 65, 17);
    label(settings, "lblGnisSource", "Source:", 8, 96, 97, 17);
    cmbGnisSource_ = place(new QComboBox(settings), "cmbGnisSource", 104, 96, 177, 21);
    cmbGnisSource_->addItem("Domestic Names (current)", "current");
    cmbGnisSource_->addItem("Archive of 2021", "2021");
    cmbGnisSource_->addItem("Gazetteer of 2009", "2009");
    label(settings, "lblGnisServer", "Server or mirror:", 8, 120, 97, 17);
    txtGnisServer_ = textBox(settings, "txtGnisServer", 104, 120, 257, 19);
    txtGnisServer_->setPlaceholderText("the USGS server");
    QPushButton* browseServer = button(settings, "btnBrowseServer", "Browse", 368, 120, 65, 17);
    label(settings, "lblClasses", "Class table:", 8, 144, 97, 17);
    txtClasses_ = textBox(settings, "txtClasses", 104, 144, 257, 19);
    txtClasses_->setPlaceholderText("the built-in one");
    QPushButton* browseClasses = button(settings, "btnBrowseClasses", "Browse", 368, 144, 65, 17);
    // The download cache: where it is and how much it holds, and a way to empty it.
    label(settings, "lblCache", "Download cache:", 8, 168, 97, 17);
    // As wide as the row gives it (a long cache path never widens the window), the whole of it in the tooltip.
    lblCacheState_ = place(new ElidingLabel(settings), "lblCacheState", 104, 168, 257, 17);
    QPushButton* emptyCache = button(settings, "btnEmptyCache", "Empty &cache", 368, 168, 65, 17);
    emptyCache->setToolTip("Remove the downloads and the records of what runs wrote; the next run fetches anew and "
                           "has nothing to compare with");
    QGroupBox* frame1 = place(new QGroupBox("PostGIS Settings", settings), "Frame1", 8, 152, 433, 89);
    label(frame1, "Label6", "Host:", 8, 16, 33, 17);
    txtPostGISHost_ = textBox(frame1, "txtPostGISHost", 64, 16, 89, 19);
    txtPostGISHost_->setText("localhost");
    label(frame1, "Label8", "Username:", 192, 16, 73, 17);
    txtPostGISUser_ = textBox(frame1, "txtPostGISUser", 248, 16, 113, 19);
    label(frame1, "Label13", "Port:", 368, 16, 25, 17);
    txtPostGISPort_ = place(new DigitsBox(5, frame1), "txtPostGISPort", 392, 16, 0, 19);
    txtPostGISPort_->setMaxLength(5);
    txtPostGISPort_->setPlaceholderText("5432");
    label(frame1, "Label7", "Database:", 8, 40, 49, 17);
    txtPostGISDatabase_ = textBox(frame1, "txtPostGISDatabase", 64, 40, 89, 19);
    label(frame1, "Label9", "Password:", 192, 40, 65, 17);
    txtPostGISPass_ = textBox(frame1, "txtPostGISPass", 248, 40, 113, 19);
    txtPostGISPass_->setEchoMode(QLineEdit::Password);
    QCheckBox* showPass = place(new QCheckBox("S&how", frame1), "chkShowPassword", 368, 40, 57, 19);
    QPushButton* testDb = button(frame1, "btnTestConnection", "&Test connection", 8, 64, 113, 21);
    QPushButton* save = button(settings, "btnSaveSettings", "Sa&ve Settings", 8, 248, 97, 25);

    // The layouts: the pixel table's rows and columns, growing with the font.
    auto find = [this](const char* name) { return findChild<QLabel*>(name); };
    // A frame is as large as what it holds needs: an explicit least width would cap it.
    for (QWidget* frame : std::initializer_list<QWidget*>{tabStrip_, statusBar_, gnis, settings, frame1})
        frame->setMinimumWidth(0);
    auto* gnisGrid = new QGridLayout(gnis);
    gnisGrid->addWidget(about, 0, 0, 1, 4);
    gnisGrid->addWidget(find("Label10"), 1, 0);
    gnisGrid->addWidget(cmbGnisState_, 1, 1, 1, 2, Qt::AlignLeft);
    gnisGrid->addWidget(find("Label11"), 2, 0);
    gnisGrid->addWidget(txtGnisOutput_, 2, 1, 1, 2);
    gnisGrid->addWidget(browseOut, 2, 3);
    gnisGrid->addWidget(areaLabel, 3, 0);
    gnisGrid->addWidget(txtGnisArea_, 3, 1, 1, 2);
    gnisGrid->addWidget(wholeState, 3, 3);
    gnisGrid->addWidget(btnGnisGpx_, 4, 0);
    gnisGrid->addWidget(btnGnisShp_, 5, 0);
    gnisGrid->addWidget(lblNetGnis_, 5, 1, 1, 3, Qt::AlignCenter);
    gnisGrid->addWidget(btnGnisProcess_, 6, 0);
    gnisGrid->addWidget(btnGnisAll_, 6, 3);
    gnisGrid->setRowStretch(7, 1);
    gnisGrid->setColumnStretch(2, 1);
    auto* settingsGrid = new QGridLayout(settings);
    const std::pair<const char*, std::array<QWidget*, 2>> rows[] = {
        {"Label3", {txtFWTools_, browseFw}},          {"Label2", {txtPostGIS_, browsePg}},
        {"lblMkgmap", {txtMkgmap_, browseMkgmap}},    {"lblGnisSource", {cmbGnisSource_, nullptr}},
        {"lblGnisServer", {txtGnisServer_, browseServer}}, {"lblClasses", {txtClasses_, browseClasses}},
        {"lblCache", {lblCacheState_, emptyCache}}};
    int row = 0;
    for (const auto& [label, controls] : rows) {
        settingsGrid->addWidget(find(label), row, 0);
        settingsGrid->addWidget(controls[0], row, 1, controls[0] == cmbGnisSource_ ? Qt::AlignLeft : Qt::Alignment());
        if (controls[1])
            settingsGrid->addWidget(controls[1], row, 2);
        ++row;
    }
    settingsGrid->addWidget(frame1, row++, 0, 1, 3);
    settingsGrid->addWidget(save, row++, 0);
    settingsGrid->setRowStretch(row, 1);
    settingsGrid->setColumnStretch(1, 1);
    auto* frameGrid = new QGridLayout(frame1);
    frameGrid->addWidget(find("Label6"), 0, 0);
    frameGrid->addWidget(txtPostGISHost_, 0, 1);
    frameGrid->addWidget(find("Label8"), 0, 2);
    frameGrid->addWidget(txtPostGISUser_, 0, 3);
    frameGrid->addWidget(find("Label13"), 0, 4);
    frameGrid->addWidget(txtPostGISPort_, 0, 5);
    frameGrid->addWidget(find("Label7"), 1, 0);
    frameGrid->addWidget(txtPostGISDatabase_, 1, 1);
    frameGrid->addWidget(find("Label9"), 1, 2);
    frameGrid->addWidget(txtPostGISPass_, 1, 3);
    frameGrid->addWidget(showPass, 1, 4, 1, 2);
    frameGrid->addWidget(testDb, 2, 0, 1, 2, Qt::AlignLeft);
    frameGrid->setColumnStretch(1, 1);
    frameGrid->setColumnStretch(3, 1);
    auto* whole = new QVBoxLayout(this);
    whole->setSizeConstraint(QLayout::SetMinimumSize); // never smaller than its text needs
    whole->setContentsMargins(0, 0, 0, 0);
    whole->setSpacing(4);
    whole->addWidget(tabStrip_);
    // One page at a time, the window as large as the larger needs.
    auto* pagesCell = new QVBoxLayout;
    pagesCell->setContentsMargins(8, 0, 5, 0);
    // The page not shown still counts, or the window would cut it when it is.
    for (QGroupBox* page : pages_) {
        QSizePolicy policy = page->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        page->setSizePolicy(policy);
    }
    pageStack_ = new QStackedLayout;
    pageStack_->addWidget(gnis);
    pageStack_->addWidget(settings);
    pagesCell->addLayout(pageStack_);
    whole->addLayout(pagesCell, 1);
    whole->addWidget(statusBar_);

    // What a screen reader says for the controls whose label stands beside them.
    for (const auto& [control, name] : std::initializer_list<std::pair<QWidget*, const char*>>{
             {cmbGnisState_, "State"},
             {txtGnisOutput_, "Output folder"},
             {txtGnisArea_, "Area"},
             {txtFWTools_, "GDAL tools folder"},
             {txtPostGIS_, "PostGIS tools folder"},
             {txtMkgmap_, "mkgmap folder"},
             {cmbGnisSource_, "Source"},
             {txtGnisServer_, "Server or mirror"},
             {txtClasses_, "Class table"},
             {browseClasses, "Browse for a class table"},
             {lblCacheState_, "Download cache"},
             {txtPostGISHost_, "Database host"},
             {txtPostGISUser_, "Database user name"},
             {txtPostGISPort_, "Database port"},
             {txtPostGISDatabase_, "Database name"},
             {txtPostGISPass_, "Database password"},
             {browseOut, "Browse for the output folder"},
             {browseFw, "Browse for the GDAL tools"},
             {browsePg, "Browse for the PostGIS tools"},
             {browseMkgmap, "Browse for mkgmap"},
             {browseServer, "Browse for a mirror folder"},
             {lblNetGnis_, "Internet"}})
        control->setAccessibleName(name);

    // Keyboard order follows the order of the controls on each page.
    QWidget* order[] = {cmbGnisState_, browseOut, txtGnisArea_, wholeState, btnGnisGpx_, btnGnisShp_, btnGnisProcess_, btnGnisAll_,
                        browseFw, browsePg, browseMkgmap, cmbGnisSource_, txtGnisServer_, browseServer,
                        txtClasses_, browseClasses, emptyCache,
                        txtPostGISHost_, txtPostGISUser_, txtPostGISPort_, txtPostGISDatabase_, txtPostGISPass_,
                        showPass, testDb, save, lnkResult_, lnkDetails_};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    // Return presses the focused button as Space does, here as in a dialog.
    for (QPushButton* b : findChildren<QPushButton*>())
        b->setAutoDefault(true);

    connect(tabStrip_, &QTabBar::currentChanged, this, [this](int index) {
        applyPageRule();
        if (statesLoaded_ && !settingsPath_.empty())
            (void)SaveUserSetting(settingsPath_, "page", index == 1 ? "settings" : "gnis");
    });
    connect(cmbGnisState_, &QComboBox::currentIndexChanged, this, &MainWindow::onStateChosen);
    connect(browseOut, &QPushButton::clicked, this, &MainWindow::browseOutput);
    connect(txtGnisArea_, &QLineEdit::editingFinished, this, [this] { setArea(txtGnisArea_->text()); });
    connect(wholeState, &QPushButton::clicked, this, [this] { setArea({}); });
    connect(browseFw, &QPushButton::clicked, this,
            [this] { browseTool(txtFWTools_, "GDAL tools", toolFileName("ogr2ogr")); });
    connect(browsePg, &QPushButton::clicked, this,
            [this] { browseTool(txtPostGIS_, "PostGIS", toolFileName("pgsql2shp")); });
    connect(browseMkgmap, &QPushButton::clicked, this,
            [this] { browseTool(txtMkgmap_, "mkgmap", toolFileName("mkgmap")); });
    connect(browseServer, &QPushButton::clicked, this, [this] {
        // A mirror folder laid out like the server; a URL is typed.
        const QString folder = dialogs_.pickFolder(this, "Select the Mirror Folder", txtGnisServer_->text());
        if (!folder.isEmpty())
            txtGnisServer_->setText(folder);
    });
    connect(browseClasses, &QPushButton::clicked, this, [this] {
        // A table of one's own, made from "gnis-convert classes"; an empty box is the built-in one.
        const QString file = dialogs_.openFile(this, txtClasses_->text(), "Class tables (*.txt);;All files (*)");
        if (!file.isEmpty())
            txtClasses_->setText(file);
    });
    connect(emptyCache, &QPushButton::clicked, this, [this] {
        const Outcome emptied = DownloadCache(DownloadCache::DefaultFolder()).clear();
        showCacheState();
        setStatusBarText(emptied ? "The download cache is empty." : "GNIS ERROR: " + emptied.error());
    });
    connect(showPass, &QCheckBox::toggled, this,
            [this](bool shown) { txtPostGISPass_->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password); });
    connect(testDb, &QPushButton::clicked, this, &MainWindow::testConnection);
    connect(save, &QPushButton::clicked, this, &MainWindow::saveSettings);
    connect(btnGnisGpx_, &QPushButton::clicked, this, [this] { runPipelineButton(Job::Gpx); });
    connect(btnGnisShp_, &QPushButton::clicked, this, [this] {
        runPipelineButton(Job::Shp);
        btnGnisProcess_->setEnabled(true); // after every press, whatever came of it
    });
    connect(btnGnisProcess_, &QPushButton::clicked, this, [this] { runPipelineButton(Job::Process); });
    connect(btnGnisAll_, &QPushButton::clicked, this, [this] { runPipelineButton(Job::All); });
}

void MainWindow::loadStep() {
    beginStage();
    setStatusText("Loading...");
    {
        const QSignalBlocker quiet(tabStrip_); // the page rule runs below, once the tabs are there
        while (tabStrip_->count() > 0)
            tabStrip_->removeTab(0);
        tabStrip_->addTab("GNIS");
        tabStrip_->setTabData(0, "gnis");
        tabStrip_->addTab("Settings");
        tabStrip_->setTabData(1, "settings");
    }
    tabStrip_->setCurrentIndex(0);
    applyPageRule();
    settingsPath_ = SettingsPath();
    loadSettings();
    setStatusBarText(kSiteName);
    if (txtFWTools_->text().isEmpty() || txtPostGIS_->text().isEmpty() || rememberedPage_ == "settings") {
        const QSignalBlocker quiet(tabStrip_);
        tabStrip_->setCurrentIndex(1);
        applyPageRule();
    }
    applyInternetRule();
    showCacheState();
    connect(txtGnisServer_, &QLineEdit::textChanged, this, &MainWindow::applyInternetRule);
    updateProcessButton();
    status_->hide();
    setEnabled(true);
    setStatusBarText(settingsWarning_.empty() ? std::string(kSiteName) : settingsWarning_);
}

void MainWindow::loadSettings() {
    const StoredSettings s = LoadStoredSettings(settingsPath_);
    loaded_.clear();
    for (const auto& [box, field] : boxFields()) {
        box->setText(qs(s.*field));
        loaded_[box] = s.*field;
    }
    // Empty tool folders are filled from PATH where the tools lie there, so a
    // machine with gdal-bin and postgis installed opens on the GNIS page. They
    // are saved with the other settings.
    for (const auto& [box, tool] : {std::pair{txtFWTools_, "ogr2ogr"}, std::pair{txtPostGIS_, "pgsql2shp"}}) {
        if (box->text().isEmpty()) {
            if (const std::filesystem::path found = FindTool("", tool); !found.empty())
                box->setText(qs(found.parent_path().string()));
        }
    }
    // What the boxes show now is what the user has not changed (the folders
    // found on PATH included): only later edits count as unsaved.
    shown_.clear();
    for (const auto& [box, field] : boxFields())
        shown_[box] = box->text();
    GnisSource source = GnisSource::Current;
    if (!s.gnisSource.empty() && !ParseGnisSource(s.gnisSource, source))
        settingsWarning_ = "Unknown gnissource '" + s.gnisSource + "' in settings.ini; using current";
    cmbGnisSource_->setCurrentIndex(cmbGnisSource_->findData(qs(std::string(GnisSourceName(source)))));
    shownSource_ = cmbGnisSource_->currentIndex();
    if (!statesLoaded_) {
        // No state is selected until the user picks one.
        const QSignalBlocker quiet(cmbGnisState_);
        QStringList names;
        LoadStates(names);
        cmbGnisState_->addItems(names);
        cmbGnisState_->setCurrentIndex(-1);
        // The state chosen last time; without Internet it is shown but starts nothing.
        if (const int last = s.state.empty() ? -1 : FindState(s.state); last >= 0) {
            if (boolInternet_ || IsLocalServer(s.gnisServer))
                onStateChosen(last);
            cmbGnisState_->setCurrentIndex(last);
        }
        statesLoaded_ = true;
        rememberedPage_ = s.page;
        savedArea_ = s.area;
        Area area; // an area settings.ini holds that no longer reads is shown, and refused when a job starts
        txtGnisArea_->setText(qs(area.setText(s.area) ? area.text() : s.area));
    }
}

void MainWindow::applyPageRule() {
    // The page chosen is the page shown: the GNIS page's GPX job needs no tool
    // at all, and a job that lacks one says so when pressed.
    const int selected = tabStrip_->currentIndex();
    if (selected < 0)
        return;
    pageStack_->setCurrentIndex(selected);
    for (int i = 0; i < 2; ++i)
        pages_[i]->setEnabled(i == selected);
}

void MainWindow::applyInternetRule() {
    if (boolInternet_)
        return;
    const std::string server = valueOf(txtGnisServer_);
    const bool local = IsLocalServer(server);
    // A mirror on this machine: the jobs that download read it instead. Else
    // the download cache's copies: a state without one says so when run.
    const bool cached = !local && DownloadCache(DownloadCache::DefaultFolder()).bytes() > 0;
    lblNetGnis_->setText(local    ? qs("Working from the local mirror " + LocalServerFolder(server).string())
                         : cached ? QString("Without Internet: from the download cache")
                                  : QString("System Disabled Without Internet"));
    lblNetGnis_->setToolTip(lblNetGnis_->text());
    lblNetGnis_->show();
    cmbGnisState_->setEnabled(local || cached);
    const bool chosen = (local || cached) && cmbGnisState_->currentIndex() >= 0;
    for (QPushButton* b : {btnGnisGpx_, btnGnisShp_, btnGnisAll_})
        b->setEnabled(chosen);
}

void MainWindow::updateProcessButton() {
    // It needs a shapefile, never the Internet.
    const std::string folder = valueOf(txtGnisOutput_);
    if (!folder.empty() && FileExists(std::filesystem::path(folder) / kShpFileName))
        btnGnisProcess_->setEnabled(true);
}

void MainWindow::onStateChosen(int index) {
    if (index < 0)
        return;
    if (statesLoaded_ && index < static_cast<int>(kStateCount)) // remembered for the next start
        (void)SaveUserSetting(settingsPath_, "state", std::string(stateCodes[static_cast<std::size_t>(index)]));
    btnGnisGpx_->setEnabled(true);
    btnGnisShp_->setEnabled(true);
    btnGnisAll_->setEnabled(true);
}

void MainWindow::browseTool(QLineEdit* box, const QString& description, const QString& tool) {
    const QString filter = description + " (" + tool + ")";
    const QString chosen = dialogs_.openFile(this, box->text(), filter);
    if (chosen.isEmpty())
        return;
    box->setText(folderOfChosenFile(chosen));
}

void MainWindow::browseOutput() {
    const QString folder = dialogs_.pickFolder(this, "Select a Folder", txtGnisOutput_->text());
    if (folder.isEmpty())
        return;
    txtGnisOutput_->setText(folder);
    updateProcessButton();
    if (Outcome saved = SaveOutputFolder(settingsPath_, ss(folder)); !saved)
        setStatusBarText("Output folder not saved: " + saved.error());
}

void MainWindow::saveSettings() {
    const StoredSettings s = boxValues();
    if (!s.port.empty() && !ValidPort(s.port)) {
        setStatusBarText("Settings not saved: The port \"" + s.port + "\" is not a number from 1 to 65535");
        return;
    }
    if (Outcome saved = SaveStoredSettings(settingsPath_, s); !saved) {
        // The boxes keep what was typed, so nothing is lost while the user mends it.
        setStatusBarText("Settings not saved: " + saved.error());
        return;
    }
    loadSettings();
    setStatusBarText("Settings Saved");
}

std::string MainWindow::valueOf(const QLineEdit* box) const {
    // A value that is not UTF-8 (a Windows-1252 password, say) cannot pass through
    // the box unchanged; while the box shows it unedited, the bytes as stored count.
    const auto it = loaded_.find(box);
    if (it != loaded_.end() && box->text() == qs(it->second))
        return it->second;
    return ss(box->text());
}

std::vector<std::pair<QLineEdit*, std::string StoredSettings::*>> MainWindow::boxFields() const {
    return {{txtFWTools_, &StoredSettings::fwtools},      {txtPostGIS_, &StoredSettings::postgis},
            {txtPostGISHost_, &StoredSettings::host},     {txtPostGISDatabase_, &StoredSettings::database},
            {txtPostGISUser_, &StoredSettings::user},     {txtPostGISPass_, &StoredSettings::pass},
            {txtPostGISPort_, &StoredSettings::port},     {txtMkgmap_, &StoredSettings::mkgmap},
            {txtGnisServer_, &StoredSettings::gnisServer}, {txtClasses_, &StoredSettings::classes},
            {txtGnisOutput_, &StoredSettings::gnis}};
}

StoredSettings MainWindow::boxValues() const {
    StoredSettings s;
    for (const auto& [box, field] : boxFields())
        s.*field = valueOf(box);
    s.gnisSource = ss(cmbGnisSource_->currentData().toString());
    return s;
}

JobSettings MainWindow::jobSettings() const {
    const StoredSettings s = boxValues();
    JobSettings job;
    job.outputFolder = s.gnis;
    if (cmbGnisState_->currentIndex() >= 0)
        job.states = {cmbGnisState_->currentIndex()};
    (void)ParseGnisSource(ss(cmbGnisSource_->currentData().toString()), job.source);
    job.fwToolsFolder = s.fwtools;
    job.postgisFolder = s.postgis;
    job.mkgmapFolder = s.mkgmap;
    job.classTable = s.classes;
    job.host = s.host;
    job.port = s.port;
    job.database = s.database;
    job.user = s.user;
    job.password = s.pass;
    job.gnisServer = s.gnisServer;
    (void)job.area.setText(ss(txtGnisArea_->text())); // checked when a job starts
    job.cacheFolder = DownloadCache::DefaultFolder();
    job.offline = !boolInternet_; // the cache's copies, and nothing fetched
    return job;
}

void MainWindow::showCacheState() {
    const DownloadCache cache(DownloadCache::DefaultFolder());
    const std::int64_t bytes = cache.bytes();
    lblCacheState_->setFullText(QString("%1 MB in %2").arg(QLocale().toString(double(bytes) / (1 << 20), 'f', 1),
                                                           qs(cache.folder().string())));
}

void MainWindow::addClassToTable(const QString& featureClass) {
    QWidget* over = result_ && result_->isVisible() ? static_cast<QWidget*>(result_) : this;
    const QString code = dialogs_.askText(over, "Add " + featureClass + " to My Class Table",
                                          "Map type code for " + featureClass + " (0x and up to four hexadecimal digits):",
                                          "0x6600");
    if (code.isEmpty())
        return;
    // Without a table of the user's, one is made beside settings.ini from the built-in one.
    std::filesystem::path table = valueOf(txtClasses_);
    const bool made = table.empty();
    if (made)
        table = settingsPath_.parent_path() / "classes.txt";
    if (const Outcome set = SetClassInTable(table, ss(featureClass), ss(code)); !set) {
        setStatusBarText("GNIS ERROR: " + set.error());
        return;
    }
    if (made) {
        if (const Outcome saved = SaveClassTableSetting(settingsPath_, table.string()); !saved) {
            setStatusBarText("GNIS ERROR: " + table.string() + " was made, but not saved as the class table: " + saved.error());
            return;
        }
        txtClasses_->setText(qs(table.string()));
        loaded_[txtClasses_] = table.string(); // saved already, so not an unsaved change
        shown_[txtClasses_] = txtClasses_->text();
    }
    setStatusBarText(ss(featureClass) + " goes on the map as " + ss(code) + " from the next run on (class table " +
                     table.string() + ").");
}

bool MainWindow::setArea(const QString& text) {
    Area area;
    if (const Outcome set = area.setText(ss(text)); !set) {
        setStatusBarText("GNIS ERROR: The area: " + set.error());
        txtGnisArea_->setFocus();
        return false;
    }
    const QString shown = qs(area.text());
    if (txtGnisArea_->text() != shown)
        txtGnisArea_->setText(shown);
    if (!settingsPath_.empty() && area.text() != savedArea_) {
        if (const Outcome saved = SaveUserSetting(settingsPath_, "area", area.text()); !saved) {
            setStatusBarText("GNIS ERROR: The area was not saved: " + saved.error());
            return true;
        }
        savedArea_ = area.text();
        setStatusBarText("The area of the next run: " + area.description() + ".");
    }
    return true;
}

void MainWindow::runPipelineButton(Job job) {
    if (jobThread_)
        return; // one job at a time (the result window takes clicks while one runs)
    // A Garmin map, a GeoPackage or GeoJSON is made from the result on show; that result stays.
    const bool fromResult = job == Job::Garmin || job == Job::Gpkg || job == Job::GeoJson;
    // An area that does not read is never taken for the whole state; checked
    // before anything of the last run goes.
    if (!fromResult && job != Job::Process && !setArea(txtGnisArea_->text()))
        return;
    runLog_.clear();
    runStarted_ = QDateTime::currentMSecsSinceEpoch();
    if (!fromResult) {
        lnkResult_->hide();
        stopReader();
        lastPoints_.reset();
        if (result_)
            result_->hide();
    }
    beginStage();
    // "Make Garmin map…" makes the map of the run the result window shows.
    const JobSettings settings = fromResult ? lastSettings_ : jobSettings();
    if (!jobReporter_)
        jobReporter_ = std::make_unique<JobReporter>(this);
    jobReporter_->cancel = false;
    // The job runs on a thread of its own: the window stays responsive, and no
    // step ever re-enters its event loop.
    jobThread_.reset(QThread::create([this, job, settings, fromResult] {
        const JobOutcome outcome = RunJob(job, settings, *jobReporter_);
        QMetaObject::invokeMethod(this, [this, outcome, settings, fromResult] { jobDone(outcome, settings, fromResult); },
                                  Qt::QueuedConnection);
    }));
    jobThread_->start();
}

void MainWindow::jobDone(const JobOutcome& outcome, const JobSettings& settings, bool fromResult) {
    jobThread_->wait();
    jobThread_.reset();
    // The conversion's counts and warnings follow the success texts that name a file made from it.
    std::string text = outcome.ok && outcome.showCounts ? withNotes(outcome.text, outcome.stats) : outcome.text;
    if (outcome.ok && !outcome.showCounts && !outcome.stats.warning.empty())
        text += " Warning: " + outcome.stats.warning; // an older gnis.zip stood in, say
    if (outcome.toolMissing)
        text += ". Set its folder on the Settings page.";
    // Where the files are: the outcome names them with their folder.
    for (std::size_t i = 0; outcome.ok && i < outcome.made.size(); ++i)
        text += (i == 0 ? " Written: " : ", ") + outcome.made[i].string() + (i + 1 == outcome.made.size() ? "." : "");
    setStatusBarText(text);
    showCacheState(); // a run may have filled it
    if (outcome.ok && !fromResult) {
        lastOutcome_ = outcome;
        lastSettings_ = settings;
        lnkResult_->show();
    }
    updateProcessButton();
    endStage();
    emit jobEnded();
}

QString MainWindow::statusBarText() const { return statusBarLabel_->fullText(); }

QString MainWindow::detailsText() const {
    return statusBarText() + "\n\nThe last run, step by step:\n" + runLog_.join("\n");
}

void MainWindow::showDetails() {
    if (!details_) {
        details_ = new QDialog(this);
        details_->setObjectName("details");
        details_->setWindowTitle("Details");
        details_->resize(560, 300);
        auto* layout = new QVBoxLayout(details_);
        detailsText_ = new QPlainTextEdit(details_);
        detailsText_->setObjectName("txtDetails");
        detailsText_->setReadOnly(true);
        layout->addWidget(detailsText_);
    }
    detailsText_->setPlainText(detailsText());
    bringBack(details_);
}

void MainWindow::showResult() {
    if (!lastPoints_ && !stopReading_) {
        // Read once, off the window's thread: the written waypoints, from the file the run left.
        const std::filesystem::path file = lastOutcome_.made.empty() ? std::filesystem::path() : lastOutcome_.made.front();
        auto stop = std::make_shared<std::atomic<bool>>(false);
        stopReading_ = stop;
        reader_ = std::thread([this, file, stop] {
            std::shared_ptr<ResultPoints> points;
            try {
                points = std::make_shared<ResultPoints>(ReadPoints(file, stop.get()));
            } catch (const std::bad_alloc&) {
                points = std::make_shared<ResultPoints>();
                points->error = "not enough memory to read the points";
            }
            // Delivered on the window's thread; dropped if the window goes first.
            QMetaObject::invokeMethod(this, [this, points, stop] {
                if (stop != stopReading_ || stop->load())
                    return; // a reading given up on
                if (reader_.joinable())
                    reader_.join();
                stopReading_.reset();
                lastPoints_ = points;
                presentResult();
            }, Qt::QueuedConnection);
        });
    }
    presentResult();
}

void MainWindow::presentResult() {
    if (!result_) {
        result_ = new ResultWindow(this);
        connect(result_, &ResultWindow::makeGarminMap, this, [this] { runPipelineButton(Job::Garmin); });
        connect(result_, &ResultWindow::saveGeoPackage, this, [this] { runPipelineButton(Job::Gpkg); });
        connect(result_, &ResultWindow::saveGeoJson, this, [this] { runPipelineButton(Job::GeoJson); });
        connect(result_, &ResultWindow::useArea, this, [this](QRectF box) {
            // Six decimals: a decimetre, finer than any box drawn at the deepest zoom.
            auto degrees = [](double v) { return QString::number(v, 'f', 6); };
            setArea("bbox " + degrees(box.left()) + "," + degrees(box.top()) + "," + degrees(box.right()) + "," +
                    degrees(box.bottom()));
        });
        connect(result_, &ResultWindow::addClass, this, &MainWindow::addClassToTable);
        connect(result_, &ResultWindow::closed, this, &MainWindow::stopReader);
        connect(result_, &ResultWindow::openFolder, this,
                [this] { dialogs_.openFolder(qs(lastSettings_.outputFolder.string())); });
    }
    const std::string made = lastOutcome_.made.empty() ? std::string() : lastOutcome_.made.front().filename().string();
    // Process SHP converts nothing, so it has no counts to show.
    result_->show("GNIS result: " + made, lastOutcome_.showCounts ? &lastOutcome_.stats : nullptr, lastPoints_,
                  lastOutcome_.changes);
}

StatusWindow* MainWindow::ensureStatusWindow() {
    if (!status_) {
        status_ = std::make_unique<StatusWindow>(this);
        connect(status_.get(), &StatusWindow::cancelClicked, this, [this] {
            if (jobReporter_)
                jobReporter_->cancel = true;
        });
    }
    return status_.get();
}

void MainWindow::setStatusText(const std::string& text) {
    ensureStatusWindow()->setStatusText(qs(text));
    logStep(text);
}

void MainWindow::setStatusBarText(const std::string& text) {
    statusBarLabel_->setFullText(qs(text));
    logStep(text);
}


void MainWindow::logStep(const std::string& text) {
    if (runStarted_ == 0)
        return;
    runLog_ << QString("[%1 s] %2").arg(double(QDateTime::currentMSecsSinceEpoch() - runStarted_) / 1000.0, 7, 'f', 1).arg(qs(text));
    if (details_ && details_->isVisible())
        detailsText_->setPlainText(detailsText());
}

void MainWindow::beginStage() {
    ensureStatusWindow()->startStage();
    // Centred over this window as it is now (not where it was before this one
    // was shown), and never left minimized with its Cancel button.
    const QRect outer = frameGeometry();
    status_->move(outer.left() + outer.width() / 2 - status_->width() / 2,
                  outer.top() + outer.height() / 2 - status_->height() / 2);
    status_->setWindowState(status_->windowState() & ~Qt::WindowMinimized);
    status_->show();
    setEnabled(false);
}

void MainWindow::endStage() {
    // Input sent meanwhile reached the disabled window and was dropped then.
    if (status_)
        status_->hide();
    setEnabled(true);
    activateWindow();
    setFocus();
    if (closeAfterStage_) {
        closeAfterStage_ = false; // asked once: a "Stay" must not bring it back after the next job
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (jobThread_) {
        // Closing in the middle of a job stops it first; the window closes once it has.
        jobReporter_->cancel = true;
        closeAfterStage_ = true;
        event->ignore();
        return;
    }
    // Settings typed and not saved are never lost without a word.
    if (unsavedSettings()) {
        switch (dialogs_.askToSave(this)) {
        case UnsavedAnswer::Stay:
            event->ignore();
            return;
        case UnsavedAnswer::Save:
            saveSettings();
            if (unsavedSettings()) { // the save failed; the status bar says why
                event->ignore();
                return;
            }
            break;
        case UnsavedAnswer::Discard:
            break;
        }
    }
    if (status_)
        status_->close();
    event->accept();
}

bool MainWindow::unsavedSettings() const {
    if (cmbGnisSource_->currentIndex() != shownSource_)
        return true;
    for (const auto& [box, field] : boxFields()) {
        const auto shown = shown_.find(box);
        if (box != txtGnisOutput_ && shown != shown_.end() && box->text() != shown->second)
            return true;
    }
    return false;
}

void MainWindow::testConnection() {
    if (testThread_)
        return; // one test at a time
    JobSettings s = jobSettings();
    setStatusBarText("Testing the connection to " + (s.host.empty() ? std::string("localhost") : s.host) + "…");
    // The question goes where a job's would go, with the page's values as typed.
    testThread_.reset(QThread::create([this, s] {
        const std::filesystem::path psql = FindTool(s.postgisFolder.string(), "psql");
        std::string said;
        if (psql.empty()) {
            said = "Connection not tested: " + ToolNotFound(s.postgisFolder.string(), "psql");
        } else {
            RunOptions options;
            if (!s.password.empty())
                options.environment["PGPASSWORD"] = s.password;
            options.environment["PGCONNECT_TIMEOUT"] = "10";
            std::vector<std::string> args{"-X", "-w", "-A", "-t", "-c", "SELECT PostGIS_Version()"};
            for (const auto& [flag, value] : {std::pair{"-d", &s.database}, std::pair{"-h", &s.host},
                                              std::pair{"-p", &s.port}, std::pair{"-U", &s.user}}) {
                if (!value->empty())
                    args.insert(args.end(), {flag, *value});
            }
            const RunResult run = RunAndWait(psql, args, options);
            const std::string version = run.output.substr(0, run.output.find_first_of("\r\n")); // "3.3 USE_GEOS=1 …"
            said = run.succeeded() ? "Connected: PostGIS " + version : "Connection failed: " + ToolFailure("psql", psql, run);
        }
        QMetaObject::invokeMethod(this, [this, said] {
            testThread_->wait();
            testThread_.reset();
            setStatusBarText(said);
        }, Qt::QueuedConnection);
    }));
    testThread_->start();
}

} // namespace gnis
