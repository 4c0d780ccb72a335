# Sourced by the benchmarks: the built-in class table as an SQL CASE, and the query
# that makes ogr2ogr write what the converter writes, for a comparison by GDAL alone.
cases=""
while read -r cls code; do
  cases+=" WHEN '${cls//_/ }' THEN '$code'"
done <<'TABLE'
airport 0x2F04
arch 0x6601
area 0x6602
arroyo 0x6501
bar 0x6502
basin 0x6603
bay 0x6503
bench 0x6605
bridge 0x6401
canal 0x6505
cape 0x6606
cemetery 0x6403
church 0x6404
cliff 0x6607
crossing 0x6406
dam 0x5500
damn 0x5500
falls 0x6508
gap 0x660B
hospital 0x3002
island 0x650C
lava 0x660E
locale 0x640A
mine 0x640C
park 0x640E
plain 0x6610
populated_place 0x0D00
range 0x6611
rapids 0x650E
reservoir 0x650F
ridge 0x6613
school 0x2C05
slope 0x6615
spring 0x6511
summit 0x6616
swamp 0x6513
tower 0x6411
trail 0x6412
tunnel 0x6413
valley 0x6617
well 0x6414
TABLE
feet="CAST(round(CAST(ELEVATION AS INTEGER) * 3.2808399) AS INTEGER)"
# The 2009 layout has elevations; today's has none.
sql_for() { # table, elevation-in-metres column or NULL, extra columns (", a AS b, ...") or nothing
  local table=$1 elevation=$2 extra=${3:-} feet="CAST(round(CAST($2 AS INTEGER) * 3.2808399) AS INTEGER)"
  local outer=""
  [ -n "$extra" ] && outer=$(echo "$extra" | sed -E 's/[^,]* AS ([a-z_]+)/ \1/g')
  [ "$elevation" = NULL ] && feet=NULL
  echo "SELECT GEOMETRY, name, \"desc\", src, ele, type$outer FROM (
  SELECT GEOMETRY,
    CASE WHEN lower(FEATURE_CLASS) = 'summit' AND $elevation <> '' THEN FEATURE_NAME || ', ' || $feet ELSE FEATURE_NAME END AS name,
    FEATURE_CLASS AS \"desc\", 'USGS GNIS ' || trim(MAP_NAME) AS src,
    CASE WHEN $elevation <> '' THEN $feet END AS ele,
    CASE lower(FEATURE_CLASS) $cases END AS type,
    PRIM_LAT_DEC AS lat, PRIM_LONG_DEC AS lon$extra
  FROM $table) WHERE type IS NOT NULL AND CAST(lat AS REAL) <> 0 AND CAST(lon AS REAL) <> 0"
}

