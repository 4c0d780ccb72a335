#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace gnis {

struct RunOptions {
    // Added to the inherited environment (a password travels here, never on a command line).
    std::map<std::string, std::string> environment;
    // When set, standard output goes straight into this file instead of being kept.
    std::filesystem::path standardOutputFile;
    // When set, error output goes into this file (and is still read back for messages).
    std::filesystem::path standardErrorFile;
    // Asked a few times a second; true ends the program.
    std::function<bool()> cancelled;
};

struct RunResult {
    bool started = false;   // false: the program could not be started at all
    bool crashed = false;
    bool cancelled = false; // ended on the caller's request
    int exitCode = -1;
    std::string output;     // standard output, unless it went to a file
    std::string errors;     // error output
    std::string startError; // why it could not be started

    bool succeeded() const { return started && !crashed && !cancelled && exitCode == 0; }
    // The last non-empty line of the error output (else of the output): what a
    // failing tool most likely said about why.
    std::string lastErrorLine() const;
};

// Runs a program with an argument list (no shell: names with blanks or quotes
// stay one argument) and waits for its end in a local event loop, so windows
// keep repainting. Standard input is closed, so a tool that asks for input ends
// instead of waiting for ever. The child inherits the environment and the
// current folder. Needs a QCoreApplication.
RunResult RunAndWait(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                     const RunOptions& options = {});

// "ogr2ogr" in folder (with the platform's executable suffix); with an empty
// folder, the program of that name on PATH.
std::filesystem::path ToolPath(const std::string& folder, const std::string& tool);

} // namespace gnis
