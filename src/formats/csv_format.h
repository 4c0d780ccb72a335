#pragma once

#include "gazetteer/waypoint.h"

#include <string>
#include <string_view>

namespace gnis {

// A CSV field as RFC 4180 wants it: quoted only when it holds a comma, a quote
// or a line break, quotes doubled.
void AppendCsvField(std::string& out, std::string_view value);

// The waypoints as a CSV table for GDAL to turn into GeoPackage or GeoJSON:
// the shapefile's fields (name, desc, src, type, ele) and the feature id, the
// county and the state, then the position (lon, lat). Texts are kept as the
// gazetteer spells them (no folding), without control characters; quoted as
// RFC 4180 wants. ColumnTypes() is the .csvt beside it, which GDAL reads for the
// columns' types.
class CsvWriter : public WaypointWriter {
public:
    std::string head() const override;
    void write(const Waypoint& waypoint, std::string& out, GpxStats& stats) override;
    std::string tail() const override { return {}; }
    static std::string ColumnTypes();
};

} // namespace gnis
