#pragma once

#include <QWidget>

#include <functional>

namespace gnis {

// Asks once whether this run works with Internet access. A button press hands
// the answer to openMain, which creates and shows the main window; then this
// window closes.
class StartupWindow : public QWidget {
    Q_OBJECT
public:
    explicit StartupWindow(std::function<QWidget*(bool boolInternet)> openMain, QWidget* parent = nullptr);
    QWidget* mainWindow() const { return main_; }

private:
    void choose(bool boolInternet);
    std::function<QWidget*(bool)> openMain_;
    QWidget* main_ = nullptr;
};

} // namespace gnis
