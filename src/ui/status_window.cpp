#include "ui/status_window.h"

#include "ui/fonts.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QWindow>

namespace gnis {

StatusWindow::StatusWindow(QWidget* owner) : QWidget(nullptr, Qt::Tool | Qt::WindowTitleHint | Qt::CustomizeWindowHint) {
    setObjectName("status");
    setWindowTitle("Status");
    setFixedSize(210, 125);
    if (owner) {
        // Not a child widget, which the owner's disabling would reach, but kept above it.
        winId();
        owner->winId();
        windowHandle()->setTransientParent(owner->windowHandle());
    }
    label_ = new QLabel(this);
    label_->setObjectName("lblStatus");
    label_->setGeometry(0, 16, 209, 57);
    label_->setAlignment(Qt::AlignCenter);
    label_->setWordWrap(true);
    label_->setFont(windowFont(9.75, true));
    label_->setEnabled(false); // drawn greyed, takes no input
    progress_ = new QProgressBar(this);
    progress_->setObjectName("barProgress");
    progress_->setGeometry(12, 80, 186, 5);
    progress_->setTextVisible(false);
    progress_->setRange(0, 1000);
    progress_->hide();
    cancel_ = new QPushButton("Cancel", this);
    cancel_->setObjectName("btnCancel");
    cancel_->setGeometry(67, 94, 75, 23);
    cancel_->setFont(windowFont(8.25));
    connect(cancel_, &QPushButton::clicked, this, [this] {
        cancel_->setEnabled(false); // asked once; the stage stops at its next check
        label_->setText("Cancelling...");
        emit cancelClicked();
    });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, cancel_, &QPushButton::click);
}

void StatusWindow::startStage() { cancel_->setEnabled(true); }

void StatusWindow::closeEvent(QCloseEvent* event) {
    if (isVisible() && cancel_->isEnabled())
        cancel_->click();
    event->ignore();
}

void StatusWindow::setStatusText(const QString& text) {
    if (!cancel_->isEnabled() && isVisible())
        return; // "Cancelling..." stays until the stage has stopped
    label_->setText(text);
    progress_->hide(); // a new step starts without a measure
}

QString StatusWindow::statusText() const { return label_->text(); }

void StatusWindow::setProgress(qint64 done, qint64 total) {
    if (total <= 0) {
        progress_->hide();
        return;
    }
    progress_->setValue(static_cast<int>(qBound(qint64(0), done * 1000 / total, qint64(1000))));
    progress_->show();
}

} // namespace gnis
