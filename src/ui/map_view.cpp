#include "ui/map_view.h"

#include <QElapsedTimer>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
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
    setFocusPolicy(Qt::StrongFocus); // + and -, the arrows and Home
    setAccessibleName("Map of the written points");
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
    // The bulk: between the 2nd and the 98th percentile of each coordinate, so
    // Guam, the Aleutians and Samoa do not shrink the lower 48 to a strip.
    bulk_ = extent_;
    if (points_ && points_->size() >= 50) {
        std::vector<float> lons(points_->lon), lats(points_->lat);
        auto percentile = [](std::vector<float>& v, double at) {
            const auto k = static_cast<std::ptrdiff_t>(at * double(v.size() - 1));
            std::nth_element(v.begin(), v.begin() + k, v.end());
            return double(v[static_cast<std::size_t>(k)]);
        };
        const QRectF bulk(QPointF(percentile(lons, 0.02), percentile(lats, 0.02)),
                          QPointF(percentile(lons, 0.98), percentile(lats, 0.98)));
        if (bulk.isValid())
            bulk_ = bulk;
    }
    fitted_ = isVisible(); // a shown view has its real size already
    showBulk();
}

void MapView::fit(const QRectF& extent) {
    centre_ = extent.center();
    squeeze_ = std::max(0.05, std::cos(centre_.y() * M_PI / 180.0));
    const double w = std::max(extent.width() * squeeze_, 0.01), h = std::max(extent.height(), 0.01);
    scale_ = 0.9 * std::min(width() / w, height() / h);
    update();
}

void MapView::showAll() { fit(extent_); }

void MapView::showBulk() { fit(bulk_); }

QString MapView::pointAt(QPoint place) const {
    if (!points_ || points_->size() == 0)
        return {};
    // The nearest drawn point within six pixels.
    const double kx = squeeze_ * scale_, ky = scale_;
    double best = 36;
    std::size_t found = points_->size();
    for (std::size_t i = 0; i < points_->size(); ++i) {
        const double dx = (points_->lon[i] - centre_.x()) * kx + width() / 2.0 - place.x();
        const double dy = height() / 2.0 - (points_->lat[i] - centre_.y()) * ky - place.y();
        if (dx * dx + dy * dy < best) {
            best = dx * dx + dy * dy;
            found = i;
        }
    }
    if (found == points_->size())
        return {};
    const std::string_view name = found < points_->nameEnd.size() ? points_->name(found) : std::string_view();
    const auto& type = points_->types[points_->type[found]];
    return QString::fromUtf8(name.data(), qsizetype(name.size())) + " (" +
           QString::fromStdString(type.label.empty() ? type.code : type.label) + ")";
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
    if (!box_.isNull()) {
        const auto screen = [&](QPointF m) {
            return QPointF((m.x() - centre_.x()) * squeeze_ * scale_ + w / 2.0, h / 2.0 - (m.y() - centre_.y()) * scale_);
        };
        const QRectF drawn = QRectF(screen(box_.topLeft()), screen(box_.bottomRight())).normalized();
        p.fillRect(drawn, QColor(0x1F, 0x77, 0xB4, 40));
        p.setPen(QPen(QColor(0x1F, 0x77, 0xB4), 2, Qt::DashLine));
        p.drawRect(drawn);
    }
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
    drawing_ = event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier);
    if (drawing_) {
        boxFrom_ = toMap(event->position());
        setCursor(Qt::CrossCursor);
        return;
    }
    setCursor(Qt::ClosedHandCursor);
}

void MapView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return;
    if (drawing_) {
        box_ = QRectF(boxFrom_, toMap(event->position())).normalized();
        update();
        return;
    }
    const QPoint now = event->position().toPoint();
    const QPoint moved = now - dragFrom_;
    dragFrom_ = now;
    centre_ -= QPointF(moved.x() / (squeeze_ * scale_), -moved.y() / scale_);
    update();
}

void MapView::mouseReleaseEvent(QMouseEvent* event) {
    setCursor(Qt::OpenHandCursor);
    if (!drawing_)
        return;
    drawing_ = false;
    // Held within the world, and a click without a drag draws nothing.
    box_ = QRectF(boxFrom_, toMap(event->position())).normalized() & QRectF(QPointF(-180, -90), QPointF(180, 90));
    if (box_.width() * squeeze_ * scale_ < 3 || box_.height() * scale_ < 3)
        box_ = QRectF();
    update();
    emit boxChanged(box_);
}

void MapView::clearBox() {
    if (box_.isNull())
        return;
    box_ = QRectF();
    update();
    emit boxChanged(box_);
}

void MapView::resizeEvent(QResizeEvent*) {
    // The first real size fits the bulk; after that the centre and scale stay.
    if (points_ && !fitted_ && width() > 0 && height() > 0) {
        fitted_ = true;
        showBulk();
    }
}

void MapView::keyPressEvent(QKeyEvent* event) {
    const double step = 0.1 * std::min(width(), height()); // pixels an arrow moves the view
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        scale_ = std::min(scale_ * 1.25, 1e5);
        break;
    case Qt::Key_Minus:
        scale_ = std::max(scale_ / 1.25, 1e-3);
        break;
    case Qt::Key_Left:
        centre_.rx() -= step / (squeeze_ * scale_);
        break;
    case Qt::Key_Right:
        centre_.rx() += step / (squeeze_ * scale_);
        break;
    case Qt::Key_Up:
        centre_.ry() += step / scale_;
        break;
    case Qt::Key_Down:
        centre_.ry() -= step / scale_;
        break;
    case Qt::Key_Home:
        showAll();
        return;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    update();
}

bool MapView::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString text = pointAt(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, this);
        return true;
    }
    return QWidget::event(event);
}

} // namespace gnis
