#include "ui/result_window.h"

#include "ui/map_view.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>
#include <QLocale>
#include <QPlainTextEdit>

#include <algorithm>

namespace gnis {
namespace {

QString byClass(const GpxStats::ClassCounts& counts) {
    std::vector<std::pair<std::string, std::int64_t>> rows(counts.begin(), counts.end());
    std::sort(rows.begin(), rows.end(),
              [](const auto& a, const auto& b) { return a.second != b.second ? a.second > b.second : a.first < b.first; });
    QString text;
    for (const auto& [cls, count] : rows)
        text += QString("  %1  %2\n").arg(QLocale().toString(qlonglong(count)), 9).arg(QString::fromStdString(cls.empty() ? "no class" : cls));
    return text;
}

} // namespace

QString ResultCountsText(const GpxStats& s) {
    const QLocale l;
    QString text = QString("%1 waypoints written from %2 records.\n").arg(l.toString(qlonglong(s.waypoints)), l.toString(qlonglong(s.records)));
    if (!s.changes.empty())
        text += QString::fromStdString(s.changes) + ".\n";
    text += QString("%1 duplicates skipped, %2 without a position, %3 malformed.\n\n")
                .arg(l.toString(qlonglong(s.duplicates)), l.toString(qlonglong(s.noPosition)), l.toString(qlonglong(s.malformed)));
    text += "Written, by class:\n" + byClass(s.writtenClasses);
    text += QString("\nLeft out by the class table (%1):\n").arg(l.toString(qlonglong(s.leftOut))) + byClass(s.leftOutClasses);
    return text;
}

ResultWindow::ResultWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("result");
    // As large as it was, but never past the screen (an 800 × 600 one included).
    const QRect screen = this->screen() ? this->screen()->availableGeometry() : QRect(0, 0, 900, 560);
    resize(std::min(900, screen.width() - 40), std::min(560, screen.height() - 60));
    auto* layout = new QHBoxLayout(this);
    auto* side = new QVBoxLayout;
    counts_ = new QPlainTextEdit(this);
    counts_->setObjectName("txtResultCounts");
    counts_->setReadOnly(true);
    counts_->setMinimumWidth(220);
    counts_->setMaximumWidth(280);
    auto* garmin = new QPushButton("Make &Garmin map…", this);
    garmin->setObjectName("btnMakeGarmin");
    garmin->setToolTip("Compile these waypoints into gmapsupp.img for a Garmin device, with mkgmap");
    connect(garmin, &QPushButton::clicked, this, &ResultWindow::makeGarminMap);
    auto* folder = new QPushButton("Open &folder", this);
    folder->setObjectName("btnOpenFolder");
    folder->setToolTip("Show the output folder in the file manager");
    connect(folder, &QPushButton::clicked, this, &ResultWindow::openFolder);
    auto* gpkg = new QPushButton("Save as Geo&Package…", this);
    gpkg->setObjectName("btnSaveGpkg");
    gpkg->setToolTip("Write gnis.gpkg for QGIS and other GIS programs, with the feature id, county and state");
    connect(gpkg, &QPushButton::clicked, this, &ResultWindow::saveGeoPackage);
    auto* geojson = new QPushButton("Save as Geo&JSON…", this);
    geojson->setObjectName("btnSaveGeoJson");
    geojson->setToolTip("Write gnis.geojson for web maps, with the feature id, county and state");
    connect(geojson, &QPushButton::clicked, this, &ResultWindow::saveGeoJson);

    // The classes left out, to put one on the map from here.
    auto* leftOutLabel = new QLabel("&Left out by the class table:", this);
    leftOut_ = new QListWidget(this);
    leftOut_->setObjectName("lstLeftOut");
    leftOut_->setAccessibleName("Classes left out by the class table");
    leftOutLabel->setBuddy(leftOut_);
    addClass_ = new QPushButton("&Add to my class table…", this);
    addClass_->setObjectName("btnAddClass");
    addClass_->setToolTip("Put the chosen class on the map from the next run on, with a map type code you give");
    addClass_->setEnabled(false);
    connect(leftOut_, &QListWidget::currentRowChanged, this, [this](int row) { addClass_->setEnabled(row >= 0); });
    connect(addClass_, &QPushButton::clicked, this, [this] {
        if (const QListWidgetItem* item = leftOut_->currentItem())
            emit addClass(item->data(Qt::UserRole).toString());
    });

    useArea_ = new QPushButton("&Use this area", this);
    useArea_->setObjectName("btnUseArea");
    useArea_->setToolTip("Draw a box on the map with Shift and the mouse; the next run keeps only what lies in it");
    useArea_->setEnabled(false);
    side->addWidget(counts_, 2);
    side->addWidget(leftOutLabel);
    side->addWidget(leftOut_, 1);
    side->addWidget(addClass_);
    auto* buttons = new QGridLayout;
    buttons->addWidget(folder, 0, 0);
    buttons->addWidget(useArea_, 0, 1);
    buttons->addWidget(gpkg, 1, 0);
    buttons->addWidget(geojson, 1, 1);
    buttons->addWidget(garmin, 2, 0, 1, 2);
    side->addLayout(buttons);
    changedOnly_ = new QCheckBox("Only what c&hanged", this);
    changedOnly_->setObjectName("chkChangedOnly");
    changedOnly_->setToolTip("Show on the map only the features that are new, removed, renamed, moved or of another class "
                             "since the last run of the same states, source, class table and area");
    changedOnly_->setEnabled(false);
    side->insertWidget(1, changedOnly_);
    map_ = new MapView(this);
    connect(changedOnly_, &QCheckBox::toggled, this, [this](bool only) {
        map_->setPoints(only && changedPoints_ ? changedPoints_ : allPoints_);
    });
    connect(map_, &MapView::boxChanged, this, [this](QRectF box) { useArea_->setEnabled(!box.isNull()); });
    connect(useArea_, &QPushButton::clicked, this, [this] {
        if (!map_->box().isNull())
            emit useArea(map_->box());
    });
    for (QPushButton* b : {folder, garmin, gpkg, geojson, addClass_, useArea_})
        b->setAutoDefault(true); // Return presses the focused button
    // Escape on the map clears a box drawn on it first; else it closes the window.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if (map_->hasFocus() && !map_->box().isNull())
            map_->clearBox();
        else
            close();
    });
    layout->addLayout(side);
    layout->addWidget(map_, 1);
}

void ResultWindow::show(const std::string& title, const GpxStats* counted, std::shared_ptr<const ResultPoints> points,
                        std::shared_ptr<const ChangeReport> changes) {
    setWindowTitle(QString::fromStdString(title));
    QString text = counted ? ResultCountsText(*counted) : QString();
    if (!points)
        text += "\nReading the points for the map… (closing this window stops it)\n";
    else if (!points->error.empty())
        text += "\nNo map: " + QString::fromStdString(points->error) + "\n";
    else
        text += QString("\n%1 points on the map.\n").arg(QLocale().toString(qulonglong(points->size())));
    if (points && !points->note.empty())
        text += "Note: " + QString::fromStdString(points->note) + ".\n";
    counts_->setPlainText(text);
    leftOut_->clear(); // a result without counts (a processed table) has no list of its own
    if (counted) {
        std::vector<std::pair<std::string, std::int64_t>> rows(counted->leftOutClasses.begin(), counted->leftOutClasses.end());
        std::sort(rows.begin(), rows.end(),
                  [](const auto& a, const auto& b) { return a.second != b.second ? a.second > b.second : a.first < b.first; });
        for (const auto& [cls, count] : rows) {
            if (cls.empty())
                continue; // a record without a class cannot be given one
            auto* item = new QListWidgetItem(QString("%1 (%2)").arg(QString::fromStdString(cls), QLocale().toString(qlonglong(count))));
            item->setData(Qt::UserRole, QString::fromStdString(cls));
            leftOut_->addItem(item);
        }
    }
    allPoints_ = std::move(points);
    changedPoints_ = changes && changes->compared && changes->total() > 0
                         ? std::make_shared<const ResultPoints>(changes->points())
                         : nullptr;
    changedOnly_->setEnabled(changedPoints_ != nullptr);
    if (!changedPoints_)
        changedOnly_->setChecked(false);
    map_->setPoints(changedOnly_->isChecked() && changedPoints_ ? changedPoints_ : allPoints_);
    // Back from the task bar or from behind another window.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    QWidget::show();
    raise();
    activateWindow();
}

void ResultWindow::closeEvent(QCloseEvent* event) {
    emit closed();
    QWidget::closeEvent(event);
}

QString ResultWindow::countsText() const { return counts_->toPlainText(); }

QStringList ResultWindow::leftOutClasses() const {
    QStringList classes;
    for (int i = 0; i < leftOut_->count(); ++i)
        classes << leftOut_->item(i)->data(Qt::UserRole).toString();
    return classes;
}

} // namespace gnis
