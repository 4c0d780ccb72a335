#include "formats/csv_format.h"

#include "gazetteer/clean_text.h"
#include "gazetteer/gnis_records.h"

namespace gnis {
namespace {

// A text field: quoted only when it holds a comma or a quote, quotes doubled.
void appendField(std::string& out, std::string_view text, std::string_view suffix = {}) {
    std::string value;
    AppendPlainLabel(value, text);
    value += suffix;
    AppendCsvField(out, value);
}

} // namespace

void AppendCsvField(std::string& out, std::string_view value) {
    if (value.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += value;
        return;
    }
    out += '"';
    for (const char c : value)
        (c == '"' ? out += "\"\"" : out += c);
    out += '"';
}

std::string CsvWriter::head() const { return "name,desc,src,type,ele,feature_id,county,state,lon,lat\r\n"; }

std::string CsvWriter::ColumnTypes() {
    return "\"String\",\"String\",\"String\",\"String\",\"Integer\",\"Integer64\",\"String\",\"String\",\"Real\",\"Real\"\r\n";
}

void CsvWriter::write(const Waypoint& w, std::string& out, GpxStats&) {
    // The name as the shapefile has it: a summit's with its elevation.
    appendField(out, w.name, w.summit ? ", " + std::string(w.feet) : std::string());
    out += ',';
    appendField(out, w.featureClass);
    out += ',';
    appendField(out, "USGS GNIS " + std::string(w.source));
    out += ',';
    out += w.typeCode;
    out += ',';
    out += w.feet;
    out += ',';
    out += w.featureId;
    out += ',';
    appendField(out, w.county);
    out += ',';
    appendField(out, w.state);
    out += ',';
    AppendCoordinate(out, w.lon, w.lonValue);
    out += ',';
    AppendCoordinate(out, w.lat, w.latValue);
    out += "\r\n";
}

} // namespace gnis
