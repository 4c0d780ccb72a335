#pragma once

#include <QString>

class QWidget;

namespace gnis {

// What to do with settings typed and not saved when the window closes.
enum class UnsavedAnswer { Save, Discard, Stay };

// The file-open dialog, the folder picker and the question about unsaved
// settings, behind an interface so tests can answer them. The first two return
// an empty text when the user cancels.
struct Dialogs {
    virtual ~Dialogs() = default;
    virtual QString openFile(QWidget* parent, const QString& initialFolder, const QString& filter) = 0;
    virtual QString pickFolder(QWidget* parent, const QString& title, const QString& initialFolder) = 0;
    virtual UnsavedAnswer askToSave(QWidget* parent) = 0;
    // Shows a folder in the desktop's file manager.
    virtual void openFolder(const QString& folder) = 0;
    // A line of text the user types, starting from initial; empty when cancelled.
    virtual QString askText(QWidget* parent, const QString& title, const QString& label, const QString& initial) = 0;
};

// The platform's own dialogs.
struct PlatformDialogs : Dialogs {
    QString openFile(QWidget* parent, const QString& initialFolder, const QString& filter) override;
    QString pickFolder(QWidget* parent, const QString& title, const QString& initialFolder) override;
    UnsavedAnswer askToSave(QWidget* parent) override;
    void openFolder(const QString& folder) override;
    QString askText(QWidget* parent, const QString& title, const QString& label, const QString& initial) override;
};

// The folder of a chosen file: "/opt/ogr2ogr/bin" for "/opt/ogr2ogr/bin/ogr2ogr",
// "/" for a tool in the root folder.
QString folderOfChosenFile(const QString& file);

// A tool's file name with the platform's executable suffix ("ogr2ogr.exe" on Windows).
QString toolFileName(const QString& tool);

} // namespace gnis
