#include "status_window.h"

#include "fonts.h"

#include <QLabel>
#include <QProgressBar>

namespace gnis {

StatusWindow::StatusWindow(QWidget* owner) : QWidget(owner, Qt::Tool | Qt::WindowTitleHint | Qt::CustomizeWindowHint) {
    setObjectName("status");
    setWindowTitle("Status");
    setFixedSize(210, 93);
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
}

void StatusWindow::setStatusText(const QString& text) {
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
