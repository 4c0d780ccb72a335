#pragma once

#include "gazetteer/waypoint.h"

#include <cstddef>
#include <string>

namespace gnis {

// GPX 1.0: a <wpt> per waypoint with the elevation in feet, the cleaned name
// (a summit's with its elevation), the class as desc, the map as src and the
// map type code as type. It measures the widest value of each field as a
// reader gets it back (entities undone), which a shapefile's columns need, and
// with a field limit cuts longer values at a character's start, counting them.
class GpxWriter : public WaypointWriter {
public:
    // fieldLimit: the most bytes a value may take; 0 for no limit.
    GpxWriter(std::string timeStamp, std::size_t fieldLimit) : time_(std::move(timeStamp)), fieldLimit_(fieldLimit) {}
    std::string head() const override;
    void write(const Waypoint& waypoint, std::string& out, GpxStats& stats) override;
    std::string tail() const override;

private:
    std::string time_;
    std::size_t fieldLimit_;
};

// Who wrote a file: the program and where it lives.
inline constexpr const char* kCreator = "Trailcrafter https://trailcrafter.example.org/gnis";

} // namespace gnis
