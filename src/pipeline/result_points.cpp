#include "result_points.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <numeric>
#include <unordered_map>

namespace gnis {
namespace fs = std::filesystem;

namespace {

// Adds a point, its type found or added by code.
class Collector {
public:
    explicit Collector(ResultPoints& points) : points_(points) {}
    void add(float lon, float lat, const std::string& code, const std::string& label) {
        auto it = index_.find(code);
        if (it == index_.end()) {
            if (points_.types.size() >= 0xFFFF)
                return; // a hostile file cannot grow the table without end
            it = index_.emplace(code, static_cast<std::uint16_t>(points_.types.size())).first;
            points_.types.push_back({code, label, 0});
        }
        ++points_.types[it->second].count;
        points_.lon.push_back(lon);
        points_.lat.push_back(lat);
        points_.type.push_back(it->second);
    }

private:
    ResultPoints& points_;
    std::unordered_map<std::string, std::uint16_t> index_;
};

bool readFile(const fs::path& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    in.seekg(0, std::ios::end);
    bytes.resize(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)));
    in.seekg(0);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<std::size_t>(in.gcount()) == bytes.size();
}

// The text between open and close inside one waypoint's part of the file.
std::string between(std::string_view part, const char* open, const char* close) {
    const std::size_t start = part.find(open);
    if (start == std::string_view::npos)
        return {};
    const std::size_t begin = start + std::strlen(open);
    const std::size_t end = part.find(close, begin);
    return end == std::string_view::npos ? std::string() : std::string(part.substr(begin, end - begin));
}

bool toFloat(const std::string& text, float& value) {
    const char* first = text.data();
    if (!text.empty() && text[0] == '+')
        ++first;
    const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

std::uint32_t little32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
std::uint32_t big32(const unsigned char* p) {
    return std::uint32_t(p[3]) | std::uint32_t(p[2]) << 8 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[0]) << 24;
}
double littleDouble(const unsigned char* p) {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = bits << 8 | p[i];
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

std::string trimmedField(const char* p, std::size_t n) {
    const std::string s(p, n);
    const std::size_t first = s.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : s.substr(first, s.find_last_not_of(' ') - first + 1);
}

} // namespace

std::vector<std::size_t> ResultPoints::largestTypes() const {
    std::vector<std::size_t> order(types.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) { return types[a].count > types[b].count; });
    return order;
}

ResultPoints ReadGpxPoints(const fs::path& gpx) {
    ResultPoints points;
    std::string text;
    if (!readFile(gpx, text)) {
        points.error = "Can't read " + gpx.string();
        return points;
    }
    Collector collect(points);
    for (std::size_t at = text.find("<wpt "); at != std::string::npos;) {
        const std::size_t next = text.find("<wpt ", at + 5);
        const std::size_t end = next == std::string::npos ? text.size() : next;
        const std::string_view part = std::string_view(text).substr(at, end - at);
        float lat = 0, lon = 0;
        if (toFloat(between(part, "lat=\"", "\""), lat) && toFloat(between(part, "lon=\"", "\""), lon))
            collect.add(lon, lat, between(part, "<type>", "</type>"), between(part, "<desc>", "</desc>"));
        at = next;
    }
    return points;
}

ResultPoints ReadShapefilePoints(const fs::path& shp) {
    ResultPoints points;
    std::string geometry, table;
    fs::path dbf = shp;
    dbf.replace_extension(".dbf");
    if (!readFile(shp, geometry) || !readFile(dbf, table)) {
        points.error = "Can't read " + shp.string();
        return points;
    }
    const auto* g = reinterpret_cast<const unsigned char*>(geometry.data());
    const auto* t = reinterpret_cast<const unsigned char*>(table.data());
    if (geometry.size() < 100 || big32(g) != 9994 || table.size() < 32) {
        points.error = shp.string() + " is not a shapefile";
        return points;
    }
    // The .dbf: a header, field descriptors of 32 bytes up to 0x0D, then fixed-size records.
    const std::size_t headerSize = std::size_t(t[8]) | std::size_t(t[9]) << 8;
    const std::size_t recordSize = std::size_t(t[10]) | std::size_t(t[11]) << 8;
    std::size_t typeAt = 0, typeWidth = 0, descAt = 0, descWidth = 0, offset = 1;
    // A header that lies about its sizes must not carry a read past the file or the record.
    for (std::size_t f = 32; f + 32 <= std::min(headerSize, table.size()) && t[f] != 0x0D; f += 32) {
        const std::string name = trimmedField(table.data() + f, 11).c_str();
        const std::size_t width = t[f + 16];
        if (offset + width <= recordSize) {
            if (name == "type")
                typeAt = offset, typeWidth = width;
            if (name == "desc")
                descAt = offset, descWidth = width;
        }
        offset += width;
    }
    Collector collect(points);
    std::size_t record = 0;
    for (std::size_t at = 100; at + 8 <= geometry.size(); ++record) {
        const std::size_t length = std::size_t(big32(g + at + 4)) * 2;
        if (at + 8 + length > geometry.size())
            break;
        const unsigned char* shape = g + at + 8;
        const double x = length >= 20 ? littleDouble(shape + 4) : 0, y = length >= 20 ? littleDouble(shape + 12) : 0;
        if (length >= 20 && little32(shape) == 1 && std::abs(x) <= 360 && std::abs(y) <= 90) { // a point on the globe
            const std::size_t row = headerSize + record * recordSize;
            std::string code, label;
            if (row + recordSize <= table.size() && recordSize > 0) {
                if (typeWidth)
                    code = trimmedField(table.data() + row + typeAt, typeWidth);
                if (descWidth)
                    label = trimmedField(table.data() + row + descAt, descWidth);
            }
            collect.add(static_cast<float>(x), static_cast<float>(y), code, label);
        }
        at += 8 + length;
    }
    return points;
}

} // namespace gnis
