#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace gnis {

// The waypoints a run wrote, read back once for the result window's map:
// positions as floats (a million points take 12 MB) and the map type of each
// as an index into types.
struct ResultPoints {
    std::vector<float> lon, lat;
    std::vector<std::uint16_t> type; // index into types
    struct Type {
        std::string code;  // "0x6616"
        std::string label; // the feature class of its first point, "Summit"
        std::int64_t count = 0;
    };
    std::vector<Type> types;
    std::string error; // why nothing could be read; empty on success

    std::size_t size() const { return lon.size(); }
    // The types by count, largest first (indexes into types).
    std::vector<std::size_t> largestTypes() const;
};

// The waypoints of a GPX file as this program writes it.
ResultPoints ReadGpxPoints(const std::filesystem::path& gpx);
// The points of a point shapefile (.shp), their type and desc from its .dbf.
ResultPoints ReadShapefilePoints(const std::filesystem::path& shp);

} // namespace gnis
