#include "ui/map_view.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <cmath>

namespace gnis {
namespace {

// Distinct colours for the legend's types, readable on the light background.
constexpr QRgb kPalette[MapView::kLegendTypes] = {0xFF1F77B4, 0xFFD62728, 0xFF2CA02C, 0xFFFF7F0E,
                                                  0xFF9467BD, 0xFF8C564B, 0xFFE377C2, 0xFF17BECF};
constexpr QRgb kBackground = 0xFFF7F4EC;

} // namespace

MapView::MapView(QWidget* parent) : QWidget(parent) {
    setObjectName("mapView");
    setMinimumSize(320, 240);
    setCursor(Qt::OpenHandCursor);
}

void MapView::setPoints(std::shared_ptr<const ResultPoints> points) {
    points_ = std::move(points);
    colours_.assign(points_ ? points_->types.size() : 0, kOther);
    legend_.clear();
    if (points_) {
        const std::vector<std::size_t> largest = points_->largestTypes();
        for (std::size_t i = 0; i < largest.size() && i < std::size_t(kLegendTypes); ++i) {
            colours_[largest[i]] = kPalette[i];
            legend_.push_back(largest[i]);
        }
    }
    // The extent: all points but those at the poles or with an unusable position.
    double west = 180, east = -180, south = 90, north = -90;
    if (points_) {
        for (std::size_t i = 0; i < points_->size(); ++i) {
            const double lon = points_->lon[i], lat = points_->lat[i];
            if (!std::isfinite(lon) || !std::isfinite(lat) || std::abs(lat) > 89.9)
                continue;
            west = std::min(west, lon), east = std::max(east, lon);
            south = std::min(south, lat), north = std::max(north, lat);
        }
    }
    if (west > east)
        west = -125, east = -66, south = 24, north = 50; // nothing drawable: the lower 48
    extent_ = QRectF(QPointF(west, south), QPointF(east, north));
    showAll();
}

void MapView::showAll() {
    centre_ = extent_.center();
    squeeze_ = std::max(0.05, std::cos(centre_.y() * M_PI / 180.0));
    const double w = std::max(extent_.width() * squeeze_, 0.01), h = std::max(extent_.height(), 0.01);
    scale_ = 0.9 * std::min(width() / w, height() / h);
    update();
}

QPointF MapView::toMap(QPointF screen) const {
    return {centre_.x() + (screen.x() - width() / 2.0) / (squeeze_ * scale_), centre_.y() - (screen.y() - height() / 2.0) / scale_};
}

void MapView::paintEvent(QPaintEvent*) {
    QElapsedTimer clock;
    clock.start();
    if (image_.size() != size())
        image_ = QImage(size(), QImage::Format_RGB32);
    image_.fill(kBackground);
    const int w = image_.width(), h = image_.height();
    if (points_ && w > 0 && h > 0) {
        auto* bits = reinterpret_cast<QRgb*>(image_.bits());
        const qsizetype stride = image_.bytesPerLine() / qsizetype(sizeof(QRgb));
        // Relative to the centre, so a deep zoom keeps the precision the points have.
        const float kx = float(squeeze_ * scale_), ky = float(scale_);
        const float cx = float(centre_.x()), cy = float(centre_.y()), halfW = float(w / 2.0), halfH = float(h / 2.0);
        const float* lon = points_->lon.data();
        const float* lat = points_->lat.data();
        const std::uint16_t* type = points_->type.data();
        const std::size_t n = points_->size();
        // Few points are drawn larger, so a small state still shows.
        const int dot = n < 20000 ? 2 : 1;
        // The legend's types last, over the others.
        for (int pass = 0; pass < 2; ++pass) {
            for (std::size_t i = 0; i < n; ++i) {
                const QRgb colour = type[i] < colours_.size() ? colours_[type[i]] : kOther;
                if ((colour != kOther) != (pass == 1))
                    continue;
                const float fx = (lon[i] - cx) * kx + halfW, fy = halfH - (lat[i] - cy) * ky;
                if (!(fx >= 0 && fy >= 0 && fx < float(w - dot + 1) && fy < float(h - dot + 1)))
                    continue;
                const int x = int(fx), y = int(fy);
                for (int dy = 0; dy < dot; ++dy)
                    for (int dx = 0; dx < dot; ++dx)
                        bits[(y + dy) * stride + x + dx] = colour;
            }
        }
    }
    QPainter p(this);
    p.drawImage(0, 0, image_);
    // The legend: the largest types, their class and count.
    if (points_ && !legend_.empty()) {
        const QFontMetrics fm(font());
        const int row = fm.height() + 2;
        int textWidth = 0;
        std::vector<QString> lines;
        for (const std::size_t t : legend_) {
            const auto& type = points_->types[t];
            lines.push_back(QString::fromStdString(type.label.empty() ? type.code : type.label) + "  " +
                            QLocale().toString(qlonglong(type.count)));
            textWidth = std::max(textWidth, fm.horizontalAdvance(lines.back()));
        }
        const QRect box(8, 8, textWidth + 30, row * int(lines.size()) + 8);
        p.fillRect(box, QColor(255, 255, 255, 220));
        p.setPen(QColor(0x60, 0x60, 0x60));
        p.drawRect(box.adjusted(0, 0, -1, -1));
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const int y = box.top() + 4 + int(i) * row;
            p.fillRect(QRect(box.left() + 6, y + (row - 10) / 2, 10, 10), QColor::fromRgb(colours_[legend_[i]]));
            p.setPen(Qt::black);
            p.drawText(QRect(box.left() + 22, y, textWidth + 4, row), Qt::AlignVCenter | Qt::AlignLeft, lines[i]);
        }
    }
    lastPaintMs_ = double(clock.nsecsElapsed()) / 1e6;
}

void MapView::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0)
        return;
    // The place under the pointer stays under it.
    const QPointF at = event->position();
    const QPointF before = toMap(at);
    // At most a pixel a metre or so: the positions hold no more than that.
    scale_ = std::clamp(scale_ * std::pow(1.25, notches), 1e-3, 1e5);
    const QPointF after = toMap(at);
    centre_ += before - after;
    update();
    event->accept();
}

void MapView::mousePressEvent(QMouseEvent* event) {
    dragFrom_ = event->position().toPoint();
    setCursor(Qt::ClosedHandCursor);
}

void MapView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPoint now = event->position().toPoint();
    const QPoint moved = now - dragFrom_;
    dragFrom_ = now;
    centre_ -= QPointF(moved.x() / (squeeze_ * scale_), -moved.y() / scale_);
    update();
}

void MapView::mouseReleaseEvent(QMouseEvent*) { setCursor(Qt::OpenHandCursor); }

void MapView::resizeEvent(QResizeEvent*) {
    if (points_)
        showAll();
}

} // namespace gnis
