#pragma once

#include "base/outcome.h"

namespace gnis {

class JobContext;

// The GIS formats GDAL writes from the conversion's CSV table.
enum class GisFormat { GeoPackage, GeoJson };

// The CSV the conversion left in the scratch folder into DIR/gnis.gpkg (layer
// gnis) or DIR/gnis.geojson (RFC 7946), WGS 84, UTF-8, through ogr2ogr. The new
// file is made whole in the scratch folder first and then renamed over the old
// one, so a failure or a cancel leaves the old file as it was, and a link at
// that name is replaced, never written through.
[[nodiscard]] Outcome ConvertToGisFile(JobContext& job, GisFormat format);

} // namespace gnis
