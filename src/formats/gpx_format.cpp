#include "formats/gpx_format.h"

#include "gazetteer/clean_text.h"
#include "gazetteer/gnis_records.h"

#include <algorithm>

namespace gnis {

std::string GpxWriter::head() const {
    return std::string(R"(<?xml version="1.0" encoding="UTF-8"?>)") + "\r\n" + R"(<gpx version="1.0" creator=")" +
           kCreator + "\"\r\n" +
           R"(xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xmlns="http://www.topografix.com/GPX/1/0" xsi:schemaLocation="http://www.topografix.com/GPX/1/0 http://www.topografix.com/GPX/1/0/gpx.xsd">)" +
           "\r\n<time>" + time_ + "</time>\r\n";
}

std::string GpxWriter::tail() const { return "</gpx>\r\n"; }

void GpxWriter::write(const Waypoint& w, std::string& out, GpxStats& stats) {
    // One unit a byte, or an entity ("&amp;") as the one byte it stands for.
    auto next = [&out](std::size_t i) {
        const std::size_t end = out[i] == '&' ? out.find(';', i) : std::string::npos;
        return end == std::string::npos ? i + 1 : end + 1;
    };
    // The length of what was appended since start, as a reader gets it back.
    auto readBack = [&out](std::size_t start) {
        std::size_t length = out.size() - start;
        for (std::size_t at = out.find('&', start); at != std::string::npos; at = out.find('&', at + 1))
            length -= out.find(';', at) - at; // "&amp;" is one byte
        return length;
    };
    // Cuts what was appended since start to the field limit, never inside a
    // character or an entity; the length as a reader gets it back.
    auto fit = [&](std::size_t start) {
        std::size_t length = readBack(start);
        if (fieldLimit_ == 0 || length <= fieldLimit_)
            return length;
        std::size_t at = start, kept = 0;
        while (at < out.size() && kept < fieldLimit_) {
            at = next(at);
            ++kept;
        }
        while (at > start && at < out.size() && (static_cast<unsigned char>(out[at]) & 0xC0) == 0x80)
            --at; // back to the start of the character that would be split
        kept = 0;
        for (std::size_t i = start; i < at; i = next(i))
            ++kept;
        out.resize(at);
        ++stats.cutFields;
        return kept;
    };
    auto widen = [](std::size_t& width, std::size_t length) { width = std::max(width, length); };

    out += "<wpt lat=\"";
    AppendCoordinate(out, w.lat, w.latValue);
    out += "\" lon=\"";
    AppendCoordinate(out, w.lon, w.lonValue);
    out += "\">\r\n";
    if (!w.feet.empty()) {
        out += "   <ele>";
        out += w.feet;
        out += "</ele>\r\n";
    }
    widen(stats.widths.ele, w.feet.size());
    out += "   <name>";
    std::size_t start = out.size();
    AppendCleanText(out, w.name);
    if (w.summit) {
        out += ", ";
        out += w.feet;
    }
    widen(stats.widths.name, fit(start));
    out += "</name>\r\n   <desc>";
    start = out.size();
    AppendXmlEscaped(out, w.featureClass);
    widen(stats.widths.desc, fit(start));
    out += "</desc>\r\n   <src>";
    start = out.size();
    out += "USGS GNIS ";
    AppendXmlEscaped(out, w.source);
    widen(stats.widths.src, fit(start));
    out += "</src>\r\n   <type>";
    out += w.typeCode;
    out += "</type>\r\n</wpt>\r\n";
}

} // namespace gnis
