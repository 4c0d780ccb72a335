#include "ui/startup_window.h"

#include "ui/fonts.h"
#include "ui/main_window.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace gnis {

StartupWindow::StartupWindow(std::function<QWidget*(bool)> openMain, QWidget* parent)
    : QWidget(parent), openMain_(std::move(openMain)) {
    setObjectName("startup");
    setWindowTitle("Trailcrafter - GNIS Processing");
    setFixedSize(312, 102);
    setFont(windowFont(8.25));

    auto* label1 = new QLabel(QString(" ") + kSiteName + " - GNIS Processing", this);
    label1->setObjectName("Label1");
    label1->setGeometry(0, 0, 313, 25);
    label1->setFont(windowFont(12, true));

    auto* line1 = new QFrame(this);
    line1->setObjectName("Line1");
    line1->setFrameShape(QFrame::HLine);
    line1->setFrameShadow(QFrame::Sunken);
    line1->setGeometry(0, 23, 312, 2);

    auto* label2 = new QLabel("To continue select the mode to operate in: ", this);
    label2->setObjectName("Label2");
    label2->setGeometry(0, 40, 313, 25);
    label2->setFont(windowFont(8.25, true));

    auto* withNet = new QPushButton("With Internet", this);
    withNet->setObjectName("btnInternet");
    withNet->setGeometry(24, 64, 121, 25);
    auto* withoutNet = new QPushButton("Without Internet", this);
    withoutNet->setObjectName("btnNoNet");
    withoutNet->setGeometry(160, 64, 121, 25);
    setTabOrder(withNet, withoutNet);
    withNet->setFocus();

    connect(withNet, &QPushButton::clicked, this, [this] { choose(true); });
    connect(withoutNet, &QPushButton::clicked, this, [this] { choose(false); });
}

void StartupWindow::choose(bool boolInternet) {
    main_ = openMain_(boolInternet); // its load step runs to the end here
    main_->show();
    main_->activateWindow();
    main_->setFocus();
    close();
}

} // namespace gnis
