#pragma once

#include "gazetteer/waypoint.h"

#include <cstdint>
#include <string>

namespace gnis {

// A Polish-format map as mkgmap reads it: a head that names the map, then one
// [POI] per waypoint (Type= the map type code, Label= the name as the GPX has
// it, Data0= the position). UTF-8, since the head names no code page.
class PolishMapWriter : public WaypointWriter {
public:
    PolishMapWriter(std::string timeStamp, std::uint32_t mapId, std::string mapName)
        : time_(std::move(timeStamp)), id_(mapId), name_(std::move(mapName)) {}
    std::string head() const override;
    void write(const Waypoint& waypoint, std::string& out, GpxStats& stats) override;
    std::string tail() const override { return {}; }

private:
    std::string time_;
    std::uint32_t id_;
    std::string name_;
};

} // namespace gnis
