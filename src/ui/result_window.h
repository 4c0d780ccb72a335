#pragma once

#include "gazetteer/gnis_records.h"
#include "formats/result_points.h"
#include "jobs/what_changed.h"

#include <QWidget>

#include <memory>

class QCheckBox;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace gnis {

class MapView;

// What a run produced: the waypoints written by class, what the class table
// left out, and a map of the written points. Not modal: it stays open beside
// the main window.
class ResultWindow : public QWidget {
    Q_OBJECT
public:
    explicit ResultWindow(QWidget* parent = nullptr);
    // counted: the conversion's counts, when the run made them; points: read
    // from the output, or null while they are still being read.
    // changes: what changed since the last run of its kind, when compared.
    void show(const std::string& title, const GpxStats* counted, std::shared_ptr<const ResultPoints> points,
              std::shared_ptr<const ChangeReport> changes = nullptr);
    MapView* mapView() const { return map_; }
    QString countsText() const;
    // The classes the class table left out, largest first, as the list names them.
    QStringList leftOutClasses() const;

signals:
    // "Make Garmin map…": the owner runs the Garmin stage for the same job.
    void makeGarminMap();
    // "Open folder": the owner shows the output folder in the file manager.
    void openFolder();
    // "Save as GeoPackage…" and "Save as GeoJSON…": the owner runs that job for the same run.
    void saveGeoPackage();
    void saveGeoJson();
    // "Use this area": the box drawn on the map becomes the area of the next run.
    void useArea(QRectF box);
    // "Add to my class table…": the owner asks for its map type code and adds it.
    void addClass(QString featureClass);
    // The user closed the window: a reading of the points still under way can stop.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QPlainTextEdit* counts_;
    QListWidget* leftOut_;
    QPushButton* addClass_;
    QPushButton* useArea_;
    QCheckBox* changedOnly_; // "Only what changed": the map shows the changed features alone
    MapView* map_;
    std::shared_ptr<const ResultPoints> allPoints_;
    std::shared_ptr<const ResultPoints> changedPoints_;
};

// The counts as the result window lists them: totals, then written and left
// out by class, largest first.
QString ResultCountsText(const GpxStats& stats);

} // namespace gnis
