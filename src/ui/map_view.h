#pragma once

#include "formats/result_points.h"

#include <QImage>
#include <QWidget>

#include <memory>
#include <vector>

namespace gnis {

// The written waypoints drawn in their true positions (longitude scaled by the
// cosine of the middle latitude), coloured by map type, with a legend for the
// largest types. It opens on where the bulk of the points lie (far-off
// territories do not squeeze the rest); Home shows them all. The wheel and + and
// - zoom, a drag and the arrow keys pan, and the point under the pointer is
// named in a tooltip. A drag with Shift held draws a box (an area for the next
// run). Points are plotted straight into an image, so a million
// of them redraw in milliseconds.
class MapView : public QWidget {
    Q_OBJECT
public:
    explicit MapView(QWidget* parent = nullptr);
    void setPoints(std::shared_ptr<const ResultPoints> points);
    const ResultPoints* points() const { return points_.get(); }
    // Back to the whole extent of the points.
    void showAll();
    // The view of where the bulk of the points lie (all but the farthest 2 % each way).
    void showBulk();
    // "Name (Class)" of the point nearest to a place in the view, within a few
    // pixels; empty when there is none.
    QString pointAt(QPoint place) const;
    // Milliseconds the last repaint took, for the benchmark.
    double lastPaintMs() const { return lastPaintMs_; }
    // The colour of a type's points (ARGB); grey for types past the legend.
    QRgb colourOf(std::size_t type) const { return type < colours_.size() ? colours_[type] : kOther; }
    // Degrees of longitude and latitude at the view's centre, and pixels per degree.
    QPointF centre() const { return centre_; }
    double scale() const { return scale_; }
    // The box drawn with Shift-drag, longitude x and latitude y; empty when none.
    QRectF box() const { return box_; }
    void clearBox();

    static constexpr int kLegendTypes = 8;
    static constexpr QRgb kOther = 0xFF9E9E9E;

signals:
    // A box was drawn, or cleared (an empty one).
    void boxChanged(QRectF box);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    QPointF toMap(QPointF screen) const;
    void fit(const QRectF& extent);

    std::shared_ptr<const ResultPoints> points_;
    std::vector<QRgb> colours_;       // per type
    std::vector<std::size_t> legend_; // the largest types, in order
    QRectF extent_;                   // longitude x, latitude y
    QRectF bulk_;                     // the same for the bulk of the points
    bool fitted_ = false;             // fitted to a real size once; later resizes keep the view
    QPointF centre_;
    double scale_ = 1;                // pixels per degree of latitude
    double squeeze_ = 1;              // cosine of the middle latitude
    QPoint dragFrom_;
    bool drawing_ = false; // a Shift-drag is drawing the box
    QPointF boxFrom_;      // where it began, on the map
    QRectF box_;
    QImage image_;
    double lastPaintMs_ = 0;
};

} // namespace gnis
