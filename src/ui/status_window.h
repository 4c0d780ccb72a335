#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

namespace gnis {

// The small window that shows what a stage is doing, with a thin bar for how
// far a long download or extraction has come.
class StatusWindow : public QWidget {
    Q_OBJECT
public:
    explicit StatusWindow(QWidget* owner);
    void setStatusText(const QString& text);
    QString statusText() const;
    // done of total; total 0 hides the bar (nothing to measure against).
    void setProgress(qint64 done, qint64 total);
    QProgressBar* progressBar() const { return progress_; }

private:
    QLabel* label_;
    QProgressBar* progress_;
};

} // namespace gnis
