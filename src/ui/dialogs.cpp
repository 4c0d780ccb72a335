#include "ui/dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace gnis {

QString PlatformDialogs::openFile(QWidget* parent, const QString& initialFolder, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, QString(), initialFolder, filter);
}

QString PlatformDialogs::pickFolder(QWidget* parent, const QString& title, const QString& initialFolder) {
    return QFileDialog::getExistingDirectory(parent, title, initialFolder, QFileDialog::ShowDirsOnly);
}

QString folderOfChosenFile(const QString& file) {
    return QDir::toNativeSeparators(QFileInfo(file).absolutePath());
}

QString toolFileName(const QString& tool) {
#if defined(Q_OS_WIN)
    return tool + ".exe";
#else
    return tool;
#endif
}

} // namespace gnis
