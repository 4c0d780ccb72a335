#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
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
    // The points' names, end to end (a name ends where the next begins); empty
    // names past kMostNameBytes, so a file of long names cannot hold memory.
    std::string names;
    std::vector<std::uint32_t> nameEnd; // per point
    static constexpr std::size_t kMostNameBytes = std::size_t(64) << 20;
    std::string_view name(std::size_t i) const {
        const std::uint32_t start = i == 0 ? 0 : nameEnd[i - 1];
        return std::string_view(names).substr(start, nameEnd[i] - start);
    }
    std::string error; // why nothing could be read; empty on success
    std::string note;  // why only part of the file is shown, when it is not all

    std::size_t size() const { return lon.size(); }
    // The types by count, largest first (indexes into types).
    std::vector<std::size_t> largestTypes() const;
};

// The most a reader takes: several times the whole country, so a file of the
// user's (or a sparse one of a terabyte) cannot hold memory or the reader for long.
inline constexpr std::size_t kMostResultPoints = 4000000;
inline constexpr std::uint64_t kMostResultBytes = std::uint64_t(1) << 30;

// The waypoints of a GPX file as this program writes it. Reading ends early,
// with a note, past the limits above, and with an error once stop is set.
ResultPoints ReadGpxPoints(const std::filesystem::path& gpx, const std::atomic<bool>* stop = nullptr);
// The points of a point shapefile (.shp), their type and desc from its .dbf.
ResultPoints ReadShapefilePoints(const std::filesystem::path& shp, const std::atomic<bool>* stop = nullptr);
// Either, by the file's extension; an error for a file of another kind.
ResultPoints ReadPoints(const std::filesystem::path& file, const std::atomic<bool>* stop = nullptr);

} // namespace gnis
