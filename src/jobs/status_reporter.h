#pragma once

#include <cstdint>
#include <string>

namespace gnis {

// What a job's steps tell its front end while they run, on the job's thread:
// a window posts what it shows to its own. The windows, gnis-convert and the
// tests each implement it; every event has an empty default so a listener
// overrides only what it shows.
struct StatusReporter {
    virtual ~StatusReporter() = default;

    // The status window's one line: what the stage is doing now.
    virtual void setStatusText(const std::string& text) { (void)text; }
    // A milestone of the job ("Data Loaded Into Database"): for the log of its steps.
    virtual void milestone(const std::string& text) { (void)text; }
    // done of total units; total is 0 when unknown.
    virtual void progress(std::int64_t done, std::int64_t total) { (void)done; (void)total; }
    // An outside tool works now, with no measure of how far it has come.
    virtual void toolRunning(const std::string& tool) { (void)tool; }
    // True once the user asked to stop: the stage then ends as soon as it can,
    // leaving what it has not finished as it was.
    virtual bool cancelRequested() { return false; }
};

} // namespace gnis
