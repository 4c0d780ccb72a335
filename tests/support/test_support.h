#pragma once

// Helpers shared by the test programs: where the data lives, and outside tools
// that a test needs. Under CI a missing tool fails the test instead of skipping it.

#include "jobs/status_reporter.h"

#include <QByteArray>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTest>

#include <filesystem>
#include <string>

namespace testsupport {

inline QString sourceDir() { return QStringLiteral(GNIS_SOURCE_DIR); }
inline QString dataFile(const QString& name) { return sourceDir() + "/tests/data/" + name; }
inline QString sampleArchive() { return sourceDir() + "/data/mirror/docs/stategaz/MA_Features_20090401.zip"; }

// Points the configuration folder (and so settings.ini) of this test and the
// programs it starts at a folder of the test's own.
// settings.ini and the download cache of the tests' own, never the user's.
inline void isolateConfiguration(const QString& folder) {
    qputenv("XDG_CONFIG_HOME", folder.toUtf8());
    qputenv("XDG_CACHE_HOME", (folder + "/cache").toUtf8());
}

inline QString settingsFileIn(const QString& configFolder) {
    return configFolder + "/Trailcrafter/trailcrafter-gnis/settings.ini";
}

inline bool underCi() { return qEnvironmentVariable("CI") == "true"; }

// Empty when the tool is on PATH; otherwise the reason, for QSKIP or QFAIL.
inline QString missingTool(const QString& tool) {
    return QStandardPaths::findExecutable(tool).isEmpty() ? tool + " is not installed" : QString();
}

#define REQUIRE_TOOL(tool)                                                   \
    do {                                                                     \
        const QString why_ = testsupport::missingTool(tool);                 \
        if (!why_.isEmpty()) {                                               \
            if (testsupport::underCi())                                      \
                QFAIL(qPrintable(why_));                                     \
            QSKIP(qPrintable(why_));                                         \
        }                                                                    \
    } while (false)

struct ToolRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a program to its end while this process's event loop keeps running, so a
// server inside the test can answer it.
inline ToolRun runTool(const QString& program, const QStringList& args, const QString& workDir = {}) {
    QProcess p;
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&p, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(300000, &loop, &QEventLoop::quit);
    p.start(program, args);
    p.closeWriteChannel();
    ToolRun r;
    if (p.state() != QProcess::NotRunning)
        loop.exec();
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline std::filesystem::path fsPath(const QString& p) { return std::filesystem::path(p.toStdString()); }
inline QString fsString(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

// The plain files of a folder, hidden ones too (so leftovers show).
inline QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

inline bool putFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(path.left(path.lastIndexOf('/')));
    return writeAll(path, bytes);
}

// Puts a state's 2009 archive where a folder laid out like the old gazetteer server has it.
inline bool putInMirror(const QString& root, const QString& code, const QByteArray& archive) {
    return putFile(root + "/docs/stategaz/" + code + "_Features_20090401.zip", archive);
}

// Where a state's current Domestic Names archive lies in a folder laid out like the USGS bucket.
inline QString bucketArchive(const QString& root, const QString& code) {
    return root + "/StagedProducts/GeographicNames/DomesticNames/DomesticNames_" + code + "_Text.zip";
}
// The real current archives of MA, HI and RI in the bundled mirror.
inline QString currentSample(const QString& code) { return bucketArchive(sourceDir() + "/data/mirror", code); }

// A stage's listener that keeps everything it was told.
struct Recorder : gnis::StatusReporter {
    QStringList status;
    QStringList milestones;
    void setStatusText(const std::string& t) override { status << QString::fromStdString(t); }
    void milestone(const std::string& t) override { milestones << QString::fromStdString(t); }
};

} // namespace testsupport
