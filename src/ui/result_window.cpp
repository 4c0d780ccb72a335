#include "ui/result_window.h"

#include "ui/map_view.h"

#include <QCloseEvent>
#include <QHBoxLayout>
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
    side->addWidget(counts_, 1);
    side->addWidget(folder);
    side->addWidget(garmin);
    map_ = new MapView(this);
    for (QPushButton* b : {folder, garmin})
        b->setAutoDefault(true); // Return presses the focused button
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    layout->addLayout(side);
    layout->addWidget(map_, 1);
}

void ResultWindow::show(const std::string& title, const GpxStats* counted, std::shared_ptr<const ResultPoints> points) {
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
    map_->setPoints(std::move(points));
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

} // namespace gnis
