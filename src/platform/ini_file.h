#pragma once

#include "base/outcome.h"

#include <filesystem>
#include <string>
#include <vector>

namespace gnis {

// A profile (INI) file kept as its lines, so that comments, unknown sections,
// order and line ends survive a save. Sections and keys are found without
// regard to case; a new key goes at the end of its section, a new section at
// the end of the file. Values are kept byte for byte, whatever their length or
// encoding: one with blanks or quotes at its ends is written in double quotes.
class IniFile {
public:
    // A missing file is an empty one, not an error.
    Outcome load(const std::filesystem::path& path);
    // The value, or fallback when the key is absent. An empty value is a value:
    // it does not give the fallback.
    std::string get(const std::string& section, const std::string& key, const std::string& fallback = {}) const;
    // Refuses a value with a line break or a NUL (it would break the file) and
    // names that cannot stand in a section header or before "=".
    Outcome set(const std::string& section, const std::string& key, const std::string& value);
    // Written under a temporary name, synced, readable by the owner only, then renamed.
    Outcome save(const std::filesystem::path& path) const;

    const std::vector<std::string>& lines() const { return lines_; }

private:
    std::vector<std::string> lines_;
    std::string eol_;
    bool byteOrderMark_ = false;
};

} // namespace gnis
