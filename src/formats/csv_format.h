#pragma once

#include "gazetteer/waypoint.h"

#include <string>

namespace gnis {

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
