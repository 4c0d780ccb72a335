#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace gnis {

// The small window that shows what a stage is doing, with a thin bar for how
// far a long download or extraction has come, and a Cancel button. It is a
// window of its own, kept above its owner, so it takes clicks while the owner
// is disabled for the stage.
class StatusWindow : public QWidget {
    Q_OBJECT
public:
    explicit StatusWindow(QWidget* owner);
    // Ready for a new stage: the Cancel button live again.
    void startStage();
    void setStatusText(const QString& text);
    QString statusText() const;
    // done of total; total 0 hides the bar (nothing to measure against).
    void setProgress(qint64 done, qint64 total);
    // An outside tool at work: a busy bar, its name and the seconds since it started.
    void setToolRunning(const QString& tool);
    QProgressBar* progressBar() const { return progress_; }

signals:
    void cancelClicked();

protected:
    // Closed by the window manager during a stage: taken as Cancel, the window stays.
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* label_;
    QProgressBar* progress_;
    QPushButton* cancel_;
    QString text_;  // the step's own text, before any tool's name
    QString tool_;
    QElapsedTimer toolClock_;
    QTimer* toolTick_;
};

} // namespace gnis
