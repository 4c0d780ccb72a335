#pragma once

#include "base/outcome.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gnis {

// The part of the map a run keeps: a box of longitudes and latitudes, a list
// of counties, or both (a record must then lie in both). An empty area keeps
// everything, as the whole state's file does.
class Area {
public:
    // "WEST,SOUTH,EAST,NORTH" in decimal degrees; west may exceed east, for a
    // box across the antimeridian.
    [[nodiscard]] Outcome setBox(std::string_view text);
    // "Coos NH,Grafton NH,Middlesex": county names, any case; a trailing state
    // code or name picks one where the name repeats across states. A trailing
    // "County" (or Parish, Borough, Census Area, Municipality) is dropped, as the
    // gazetteer's county column has none.
    [[nodiscard]] Outcome setCounties(std::string_view text);
    // The form setText reads and settings.ini keeps: "bbox W,S,E,N",
    // "county NAME,NAME", or both joined by "; ". Empty text: the whole state.
    [[nodiscard]] Outcome setText(std::string_view text);
    std::string text() const;
    // For people: "whole state", "the box -71.9,43.9 to -70.9,44.6", "Coos NH, Grafton NH".
    std::string description() const;
    // A short name for a map: "Coos NH Grafton NH" or "box -71.9 43.9 -70.9 44.6".
    std::string mapName() const;

    bool empty() const { return !hasBox_ && counties_.empty(); }
    bool hasBox() const { return hasBox_; }
    bool hasCounties() const { return !counties_.empty(); }
    double west() const { return double(westE9_) / kScale; }
    double south() const { return double(southE9_) / kScale; }
    double east() const { return double(eastE9_) / kScale; }
    double north() const { return double(northE9_) / kScale; }

    bool containsPosition(double lat, double lon) const;
    // The same for positions in billionths of a degree, as the converter reads
    // them from the text without floating point.
    bool containsScaled(std::int64_t lat, std::int64_t lon) const;
    static constexpr double kScale = 1e9;
    // county: the gazetteer's county column; state: its state column, a code
    // ("NH", older releases) or a name ("New Hampshire", today's).
    bool containsCounty(std::string_view county, std::string_view state) const { return countyOf(county, state) >= 0; }
    // The position in the list of the county that holds the record; -1 for none
    // (and 0 for any record when the area lists no county).
    int countyOf(std::string_view county, std::string_view state) const;
    std::size_t countyCount() const { return counties_.size(); }
    // "Coos NH", as the list names it.
    std::string countyName(std::size_t index) const;

private:
    struct County {
        std::string name;  // as given
        std::string state; // the code, "" for any state
    };
    bool hasBox_ = false;
    std::int64_t westE9_ = 0, southE9_ = 0, eastE9_ = 0, northE9_ = 0;
    std::string boxText_; // as the user gave it, trimmed
    std::vector<County> counties_;
};

} // namespace gnis
