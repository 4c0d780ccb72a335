#include "formats/result_points.h"

#include "base/file_system.h"
#include "gazetteer/gnis_records.h"

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
    void add(float lon, float lat, const std::string& code, const std::string& label, std::string_view name) {
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
        if (points_.names.size() + name.size() <= ResultPoints::kMostNameBytes)
            points_.names += name;
        points_.nameEnd.push_back(static_cast<std::uint32_t>(points_.names.size()));
    }

private:
    ResultPoints& points_;
    std::unordered_map<std::string, std::uint16_t> index_;
};

// Only a plain file is read: a FIFO or a device at the name would hold the window.
bool openFile(const fs::path& path, std::ifstream& in) {
    if (!FileExists(path))
        return false;
    in.open(path, std::ios::binary);
    return static_cast<bool>(in);
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

// The five entities the GPX writer makes, undone.
std::string unescaped(std::string text) {
    if (text.find('&') == std::string::npos)
        return text;
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        bool done = false;
        for (const auto& [entity, c] : {std::pair{"&amp;", '&'}, std::pair{"&lt;", '<'}, std::pair{"&gt;", '>'},
                                        std::pair{"&quot;", '"'}, std::pair{"&apos;", '\''}}) {
            if (text.compare(i, std::strlen(entity), entity) == 0) {
                out += c;
                i += std::strlen(entity) - 1;
                done = true;
                break;
            }
        }
        if (!done)
            out += text[i];
    }
    return out;
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

namespace {

// Whether reading goes on: false, with the reason in points, once stopped or past a limit.
bool goOn(ResultPoints& points, std::uint64_t bytes, const std::atomic<bool>* stop, const fs::path& file) {
    if (stop && stop->load(std::memory_order_relaxed)) {
        points.error = "reading stopped";
        return false;
    }
    if (points.size() >= kMostResultPoints) {
        points.note = "only the first " + GroupedNumber(static_cast<std::int64_t>(kMostResultPoints)) + " points of " + file.filename().string() + " are shown";
        return false;
    }
    if (bytes >= kMostResultBytes) {
        points.note = "only the first GiB of " + file.filename().string() + " was read";
        return false;
    }
    return true;
}

} // namespace

ResultPoints ReadGpxPoints(const fs::path& gpx, const std::atomic<bool>* stop) {
    ResultPoints points;
    std::ifstream in;
    if (!openFile(gpx, in)) {
        points.error = "Can't read " + gpx.string();
        return points;
    }
    Collector collect(points);
    auto take = [&collect](std::string_view part) {
        float lat = 0, lon = 0;
        if (toFloat(between(part, "lat=\"", "\""), lat) && toFloat(between(part, "lon=\"", "\""), lon))
            collect.add(lon, lat, between(part, "<type>", "</type>"), between(part, "<desc>", "</desc>"),
                        unescaped(between(part, "<name>", "</name>")));
    };
    // Read in pieces; the window holds the waypoint not yet complete (from its
    // "<wpt " on), and no more of one than a waypoint of ours could need.
    constexpr std::size_t kPiece = 1 << 20, kPartMax = 1 << 16;
    std::string window, piece(kPiece, '\0');
    for (std::uint64_t read = 0; goOn(points, read, stop, gpx); read += kPiece) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0)
            break;
        window.append(piece, 0, got);
        std::size_t at = window.find("<wpt ");
        if (at == std::string::npos) {
            window.erase(0, window.size() - std::min<std::size_t>(window.size(), 4)); // a "<wpt " cut in two
            continue;
        }
        for (std::size_t next; (next = window.find("<wpt ", at + 5)) != std::string::npos; at = next)
            take(std::string_view(window).substr(at, next - at));
        window.erase(0, at);
        if (window.size() > kPartMax) {
            take(std::string_view(window).substr(0, kPartMax));
            window.erase(0, window.size() - 4);
        }
    }
    if (window.rfind("<wpt ", 0) == 0)
        take(window);
    return points;
}

ResultPoints ReadShapefilePoints(const fs::path& shp, const std::atomic<bool>* stop) {
    ResultPoints points;
    fs::path dbf = shp;
    dbf.replace_extension(".dbf");
    std::ifstream geometry, table;
    if (!openFile(shp, geometry) || !openFile(dbf, table)) {
        points.error = "Can't read " + shp.string();
        return points;
    }
    // Both files are read front to back, a record at a time.
    unsigned char head[100], t[32];
    if (!geometry.read(reinterpret_cast<char*>(head), sizeof head) || big32(head) != 9994 ||
        !table.read(reinterpret_cast<char*>(t), sizeof t)) {
        points.error = shp.string() + " is not a shapefile";
        return points;
    }
    // The .dbf: a header, field descriptors of 32 bytes up to 0x0D, then fixed-size records.
    const std::size_t headerSize = std::size_t(t[8]) | std::size_t(t[9]) << 8;
    const std::size_t recordSize = std::size_t(t[10]) | std::size_t(t[11]) << 8;
    std::string fields(headerSize > 32 ? headerSize - 32 : 0, '\0');
    table.read(fields.data(), static_cast<std::streamsize>(fields.size()));
    fields.resize(static_cast<std::size_t>(table.gcount()));
    bool rows = table.gcount() == static_cast<std::streamsize>(fields.size()) && headerSize >= 32 && recordSize > 0;
    std::size_t typeAt = 0, typeWidth = 0, descAt = 0, descWidth = 0, nameAt = 0, nameWidth = 0, offset = 1;
    // A header that lies about its sizes must not carry a read past the record.
    for (std::size_t f = 0; f + 32 <= fields.size() && fields[f] != 0x0D; f += 32) {
        const std::string name = trimmedField(fields.data() + f, 11).c_str();
        const std::size_t width = static_cast<unsigned char>(fields[f + 16]);
        if (offset + width <= recordSize) {
            if (name == "type")
                typeAt = offset, typeWidth = width;
            if (name == "desc")
                descAt = offset, descWidth = width;
            if (name == "name")
                nameAt = offset, nameWidth = width;
        }
        offset += width;
    }
    Collector collect(points);
    std::string row(recordSize, '\0');
    unsigned char shape[28];
    std::uint64_t read = 0; // bytes of both files so far
    for (unsigned char header[8]; goOn(points, read, stop, shp) && geometry.read(reinterpret_cast<char*>(header), sizeof header);) {
        const std::size_t length = std::size_t(big32(header + 4)) * 2;
        read += sizeof header + length + recordSize;
        if (length > (1 << 16))
            break; // no point record is nearly this long: not a point shapefile past here
        const std::size_t kept = std::min(length, sizeof shape);
        if (!geometry.read(reinterpret_cast<char*>(shape), static_cast<std::streamsize>(kept)) ||
            !geometry.ignore(static_cast<std::streamsize>(length - kept)) ||
            static_cast<std::size_t>(geometry.gcount()) != length - kept)
            break;
        rows = rows && table.read(row.data(), static_cast<std::streamsize>(row.size()));
        const double x = length >= 20 ? littleDouble(shape + 4) : 0, y = length >= 20 ? littleDouble(shape + 12) : 0;
        if (length >= 20 && little32(shape) == 1 && std::abs(x) <= 360 && std::abs(y) <= 90) { // a point on the globe
            std::string code, label, name;
            if (rows) {
                if (nameWidth)
                    name = trimmedField(row.data() + nameAt, nameWidth);
                if (typeWidth)
                    code = trimmedField(row.data() + typeAt, typeWidth);
                if (descWidth)
                    label = trimmedField(row.data() + descAt, descWidth);
            }
            collect.add(static_cast<float>(x), static_cast<float>(y), code, label, name);
        }
    }
    return points;
}

ResultPoints ReadPoints(const fs::path& file, const std::atomic<bool>* stop) {
    const std::string ext = file.extension().string();
    if (ext == ".gpx")
        return ReadGpxPoints(file, stop);
    if (ext == ".shp")
        return ReadShapefilePoints(file, stop);
    ResultPoints none;
    none.error = "no points to show in " + file.filename().string();
    return none;
}

} // namespace gnis
