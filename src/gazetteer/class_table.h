#pragma once

#include "base/outcome.h"
#include "gazetteer/map_type.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>

namespace gnis {

// A map maker's own class table, instead of the built-in one: which feature
// classes go on the map, and with which map type code. A file of one class a
// line, the class first and its code last ("Populated Place 0x0D00"), or "-"
// to leave the class out; "#" starts a comment; UTF-8. Classes it does not
// list are left out, as the built-in table leaves out the classes it lacks.
class ClassTable {
public:
    // Reads the file whole before anything is written; a bad line fails with
    // the file, the line's number and the reason, and nothing is taken.
    Outcome load(const std::filesystem::path& file);
    // The code for a class, compared without regard to case; empty when the
    // class is left out. Summit's label carries the elevation, whatever its code.
    MapType lookup(std::string_view featureClass) const;
    std::size_t size() const { return codes_.size(); }

private:
    struct NoCase {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    std::unordered_map<std::string, std::string, NoCase, NoCase> codes_; // "" for a class left out
};

// The built-in table in a class table file's form, to start a table of one's own from.
std::string BuiltInClassTable();

// Gives a class a map type code in the user's table file: the class's line is
// changed where the table lists it (its comment kept), else a line is added; a
// file not there yet starts as the built-in table. A table that does not read,
// or a code that is not one, fails and leaves the file as it was. The file is
// replaced whole, never written in place.
[[nodiscard]] Outcome SetClassInTable(const std::filesystem::path& file, std::string_view featureClass, std::string_view code);

} // namespace gnis
