#include "ui/dialogs.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

namespace gnis {

QString PlatformDialogs::openFile(QWidget* parent, const QString& initialFolder, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, QString(), initialFolder, filter);
}

QString PlatformDialogs::pickFolder(QWidget* parent, const QString& title, const QString& initialFolder) {
    return QFileDialog::getExistingDirectory(parent, title, initialFolder, QFileDialog::ShowDirsOnly);
}

UnsavedAnswer PlatformDialogs::askToSave(QWidget* parent) {
    switch (QMessageBox::question(parent, "Unsaved settings",
                                  "The Settings page has changes that were not saved. Save them before closing?",
                                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save)) {
    case QMessageBox::Save:
        return UnsavedAnswer::Save;
    case QMessageBox::Discard:
        return UnsavedAnswer::Discard;
    default:
        return UnsavedAnswer::Stay;
    }
}

void PlatformDialogs::openFolder(const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); }

QString PlatformDialogs::askText(QWidget* parent, const QString& title, const QString& label, const QString& initial) {
    bool ok = false;
    const QString text = QInputDialog::getText(parent, title, label, QLineEdit::Normal, initial, &ok);
    return ok ? text.trimmed() : QString();
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
