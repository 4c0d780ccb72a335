#pragma once

#include <QLabel>

namespace gnis {

// A one-line label that shows as much of its text as fits, ending in "…", with
// the whole text in its tooltip.
class ElidingLabel : public QLabel {
public:
    using QLabel::QLabel;
    void setFullText(const QString& text) {
        full_ = text;
        setToolTip(text);
        elide();
    }
    QString fullText() const { return full_; }
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }
    QSize sizeHint() const override { return {0, QLabel::sizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        elide();
    }

private:
    void elide() { QLabel::setText(fontMetrics().elidedText(full_, Qt::ElideRight, std::max(0, width()))); }
    QString full_;
};

} // namespace gnis
