#pragma once

#include <QString>

class QWidget;

namespace gnis {

// The file-open dialog and the folder picker, behind an interface so tests can
// answer them. Both return an empty text when the user cancels.
struct Dialogs {
    virtual ~Dialogs() = default;
    virtual QString openFile(QWidget* parent, const QString& initialFolder, const QString& filter) = 0;
    virtual QString pickFolder(QWidget* parent, const QString& title, const QString& initialFolder) = 0;
};

// The platform's own dialogs.
struct PlatformDialogs : Dialogs {
    QString openFile(QWidget* parent, const QString& initialFolder, const QString& filter) override;
    QString pickFolder(QWidget* parent, const QString& title, const QString& initialFolder) override;
};

// The folder of a chosen file: "/opt/ogr2ogr/bin" for "/opt/ogr2ogr/bin/ogr2ogr",
// "/" for a tool in the root folder.
QString folderOfChosenFile(const QString& file);

// A tool's file name with the platform's executable suffix ("ogr2ogr.exe" on Windows).
QString toolFileName(const QString& tool);

} // namespace gnis
