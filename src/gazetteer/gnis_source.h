#pragma once

#include <string>
#include <string_view>

namespace gnis {

// The publications of the USGS gazetteer the program can read.
enum class GnisSource {
    Current,     // Domestic Names, refreshed every month or two; zipped per state and nationally
    Archive2021, // frozen 2021-08-25 files, with cultural classes and elevations; plain text per state
    Classic2009, // the 2009-04-01 state gazetteer; zipped per state, no national file
};

// "current", "2021", "2009": the names settings.ini and --source use.
std::string_view GnisSourceName(GnisSource source);
// Reads one of those names, in any case. False when it is none of them.
bool ParseGnisSource(std::string_view text, GnisSource& source);
// Where the source lives when settings name no other server.
std::string DefaultGnisServer(GnisSource source);

// Where a source keeps one state's text (or, for the national entry, the whole country's).
struct GazetteerLocation {
    std::string url;      // empty: the source has no such file
    bool zipped = true;   // an archive holding the text, else the text itself
    std::string textName; // the text's file name, in the archive or on the server
};
// server: an http(s) or file: URL, or a folder laid out like the server.
GazetteerLocation LocateGazetteer(GnisSource source, const std::string& server, int stateIndex);

// How well an archive member's file name (in any folder, any case) fits a
// state's gazetteer text. A source's own name is Exact; another release's
// naming of the same state is Other. For the national entry any text member
// that is not one state's text is Other, so an archive holding a single text
// works whatever its name.
enum class MemberFit { None, Other, Exact };
MemberFit FitStateText(std::string_view memberName, int stateIndex, GnisSource source);

} // namespace gnis
