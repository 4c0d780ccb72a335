#pragma once

#include "gazetteer/gnis_records.h"
#include "jobs/job_settings.h"
#include "jobs/run_job.h"
#include "platform/settings_file.h"
#include "jobs/status_reporter.h"

#include <QThread>
#include <QWidget>

#include <filesystem>
#include <atomic>
#include <map>
#include <memory>
#include <thread>
#include <vector>

class QComboBox;
class QDialog;
class QPlainTextEdit;
class QGroupBox;
class QStackedLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QTabBar;

namespace gnis {

struct Dialogs;
class ElidingLabel;
class ResultWindow;
struct ResultPoints;
class StatusWindow;

inline constexpr const char* kSiteName = "Trailcrafter Maps";

// The main window: the GNIS page, the Settings page and the status bar. Its
// controls are the live settings the stages read.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    MainWindow(bool boolInternet, Dialogs& dialogs, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The whole text; the status bar shows what fits, the rest in its tooltip and Details.
    QString statusBarText() const;
    // The last run's status texts and outcomes, as the Details view lists them.
    QString detailsText() const;
    void showDetails();
    // Opens the result window of the last successful run (the "Show result" link).
    void showResult();
    ResultWindow* resultWindow() const { return result_; }
    StatusWindow* statusWindow() const { return status_.get(); }
    // The values a stage reads, as the controls hold them now.
    JobSettings jobSettings() const;

signals:
    // A job's outcome is in the status bar and the window takes input again.
    void jobEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void loadStep();
    void loadSettings();
    void applyPageRule();
    void updateProcessButton();
    // Without Internet, only what needs it is off: a mirror on this machine needs none.
    void applyInternetRule();
    void onStateChosen(int index);
    void browseTool(QLineEdit* box, const QString& description, const QString& tool);
    void browseOutput();
    // Takes the area text, saves it as [User] area and says so; false (with the
    // reason in the status bar) when it does not read as an area.
    bool setArea(const QString& text);
    std::string savedArea_;
    // Puts a class the table left out on the map: its code asked for, the
    // user's table made (from the built-in one) or changed.
    void addClassToTable(const QString& featureClass);
    void saveSettings();
    // Begin a stage, the job, its outcome in the status bar, end a stage.
    void runPipelineButton(Job job);

    void setStatusBarText(const std::string& text);
    void beginStage();
    void endStage();
    void setStatusText(const std::string& text);
    // The outcome of the job that ran on the worker thread, back on this one.
    void jobDone(const JobOutcome& outcome, const JobSettings& settings, bool fromResult);
    StatusWindow* ensureStatusWindow();
    void logStep(const std::string& text);

    bool boolInternet_;
    Dialogs& dialogs_;
    std::filesystem::path settingsPath_;
    std::string settingsWarning_; // shown once the window is loaded
    // What each text box was loaded with, byte for byte.
    std::map<const QLineEdit*, std::string> loaded_;
    std::map<const QLineEdit*, QString> shown_; // what each box showed once loaded
    bool unsavedSettings() const;
    std::string valueOf(const QLineEdit* box) const;
    // The text boxes and the settings they hold; their values, as the boxes hold them now.
    std::vector<std::pair<QLineEdit*, std::string StoredSettings::*>> boxFields() const;
    StoredSettings boxValues() const;
    bool statesLoaded_ = false;
    std::string rememberedPage_;
    std::unique_ptr<StatusWindow> status_; // a window of its own: see StatusWindow
    // The job under way runs on a thread of its own; its reporter posts to this
    // window, and a Cancel is a request its steps check.
    class JobReporter;
    std::unique_ptr<JobReporter> jobReporter_;
    std::unique_ptr<QThread> jobThread_;
    bool closeAfterStage_ = false;

    QTabBar* tabStrip_ = nullptr;
    QGroupBox* pages_[2] = {};
    QStackedLayout* pageStack_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    ElidingLabel* statusBarLabel_ = nullptr;
    QLabel* lnkDetails_ = nullptr;
    QLabel* lnkResult_ = nullptr;
    QStringList runLog_;
    qint64 runStarted_ = 0; // ms since the epoch
    QDialog* details_ = nullptr;
    QPlainTextEdit* detailsText_ = nullptr;
    ResultWindow* result_ = nullptr;
    // The last successful run: what it made, and its counts when it converted.
    JobOutcome lastOutcome_;
    JobSettings lastSettings_;
    std::shared_ptr<const ResultPoints> lastPoints_; // read on the first Show result
    // Reads the points off the window's thread; stopReading_ ends it early.
    std::thread reader_;
    std::shared_ptr<std::atomic<bool>> stopReading_;
    void stopReader();
    void presentResult();
    QComboBox* cmbGnisState_ = nullptr;
    QLineEdit* txtGnisOutput_ = nullptr;
    QLineEdit* txtGnisArea_ = nullptr; // [User] area
    QPushButton* btnGnisGpx_ = nullptr;
    QPushButton* btnGnisShp_ = nullptr;
    QPushButton* btnGnisProcess_ = nullptr;
    QPushButton* btnGnisAll_ = nullptr;
    QLabel* lblNetGnis_ = nullptr;
    QLineEdit* txtFWTools_ = nullptr;
    QLineEdit* txtPostGIS_ = nullptr;
    QLineEdit* txtPostGISHost_ = nullptr;
    QLineEdit* txtPostGISUser_ = nullptr;
    QLineEdit* txtPostGISPort_ = nullptr;
    QLineEdit* txtPostGISDatabase_ = nullptr;
    QLineEdit* txtPostGISPass_ = nullptr;
    QLineEdit* txtMkgmap_ = nullptr;
    QLineEdit* txtGnisServer_ = nullptr;
    QLineEdit* txtClasses_ = nullptr; // [Software] classes: a class table of the user's
    QComboBox* cmbGnisSource_ = nullptr;
    ElidingLabel* lblCacheState_ = nullptr; // the download cache's size and folder
    void showCacheState();
    int shownSource_ = 0; // the source the page showed once loaded
    // "Test connection": psql with the page's values, off the window's thread.
    void testConnection();
    std::unique_ptr<QThread> testThread_;
};

} // namespace gnis
