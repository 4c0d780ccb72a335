#pragma once

// The fixed names of what the jobs make in the output folder, spelled once.
namespace gnis {

inline constexpr const char* kGpxFileName = "gnis.gpx";
inline constexpr const char* kMpFileName = "gnis.mp";
inline constexpr const char* kCsvFileName = "gnis.csv"; // in the scratch folder only, for GDAL
inline constexpr const char* kGpkgFileName = "gnis.gpkg";
inline constexpr const char* kGeoJsonFileName = "gnis.geojson";
inline constexpr const char* kZipFileName = "gnis.zip"; // an older archive the user keeps for offline use
inline constexpr const char* kShapefileName = "gnis";   // gnis.shp with its .shx, .dbf, .prj, .cpg
inline constexpr const char* kShpFileName = "gnis.shp";
inline constexpr const char* kTableName = "gnis";       // the PostGIS table
inline constexpr const char* kGarminFileName = "gmapsupp.img";
inline constexpr const char* kGarminMarkerName = ".gmapsupp.img.trailcrafter"; // says which map there is ours

} // namespace gnis
