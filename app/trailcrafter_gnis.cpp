// trailcrafter-gnis: the desktop program. The startup window asks for the mode,
// then the main window does the work; closing it ends the program.

#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "platform/settings_file.h"
#include "ui/startup_window.h"

#include <QApplication>
#include <QIcon>

#include <memory>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    gnis::SetApplicationIdentity();
    app.setWindowIcon(QIcon(":/trailcrafter-gnis.png"));
    gnis::PlatformDialogs dialogs;
    std::unique_ptr<gnis::MainWindow> main;
    gnis::StartupWindow startup([&](bool internet) {
        main = std::make_unique<gnis::MainWindow>(internet, dialogs);
        return main.get();
    });
    startup.show();
    return app.exec();
}
