#include "ui/status_window.h"

#include "ui/fonts.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWindow>

namespace gnis {

StatusWindow::StatusWindow(QWidget* owner) : QWidget(nullptr, Qt::Tool | Qt::WindowTitleHint | Qt::CustomizeWindowHint) {
    setObjectName("status");
    setWindowTitle("Status");
    setMinimumWidth(210); // the old size at the default font; larger with a larger one
    if (owner) {
        // Not a child widget, which the owner's disabling would reach, but kept above it.
        winId();
        owner->winId();
        windowHandle()->setTransientParent(owner->windowHandle());
    }
    label_ = new QLabel(this);
    label_->setObjectName("lblStatus");
    label_->setMinimumHeight(57);
    label_->setAlignment(Qt::AlignCenter);
    label_->setWordWrap(true);
    label_->setFont(windowFont(9.75, true));
    // Drawn in the normal text colour (greyed text is hard to read) and never takes focus.
    label_->setFocusPolicy(Qt::NoFocus);
    label_->setAccessibleName("Status");
    progress_ = new QProgressBar(this);
    progress_->setAccessibleName("Progress");
    progress_->setObjectName("barProgress");
    progress_->setFixedHeight(5);
    progress_->setTextVisible(false);
    progress_->setRange(0, 1000);
    progress_->hide();
    cancel_ = new QPushButton("Cancel", this);
    cancel_->setObjectName("btnCancel");
    cancel_->setMinimumWidth(75);
    cancel_->setFont(windowFont(8.25));
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize); // as large as its text, not resizable
    layout->setContentsMargins(8, 12, 8, 8);
    layout->addWidget(label_);
    layout->addWidget(progress_);
    layout->addWidget(cancel_, 0, Qt::AlignHCenter);
    connect(cancel_, &QPushButton::clicked, this, [this] {
        cancel_->setEnabled(false); // asked once; the stage stops at its next check
        label_->setText("Cancelling...");
        emit cancelClicked();
    });
    toolTick_ = new QTimer(this);
    toolTick_->setInterval(1000);
    connect(toolTick_, &QTimer::timeout, this, [this] {
        if (cancel_->isEnabled())
            label_->setText(text_ + "\n" + tool_ + ", " + QString::number(toolClock_.elapsed() / 1000) + " s");
    });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, cancel_, &QPushButton::click);
}

void StatusWindow::startStage() {
    cancel_->setEnabled(true);
    toolTick_->stop(); // the last job's tool is not this one's
    progress_->hide();
}

void StatusWindow::closeEvent(QCloseEvent* event) {
    if (isVisible() && cancel_->isEnabled())
        cancel_->click();
    event->ignore();
}

void StatusWindow::setStatusText(const QString& text) {
    if (!cancel_->isEnabled() && isVisible())
        return; // "Cancelling..." stays until the stage has stopped
    text_ = text;
    label_->setText(text);
    toolTick_->stop();
    progress_->setRange(0, 1000);
    progress_->hide(); // a new step starts without a measure
}

void StatusWindow::setToolRunning(const QString& tool) {
    tool_ = tool;
    toolClock_.start();
    progress_->setRange(0, 0); // busy: no measure, but moving
    progress_->show();
    if (cancel_->isEnabled())
        label_->setText(text_ + "\n" + tool_ + ", 0 s");
    toolTick_->start();
}

QString StatusWindow::statusText() const { return label_->text(); }

void StatusWindow::setProgress(qint64 done, qint64 total) {
    if (total <= 0) {
        progress_->hide();
        return;
    }
    toolTick_->stop();
    progress_->setRange(0, 1000);
    progress_->setValue(static_cast<int>(qBound(qint64(0), done * 1000 / total, qint64(1000))));
    progress_->show();
}

} // namespace gnis
