#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gnis {

struct GpxStats;

// A plain decimal number in the lexical form of xs:decimal: optional sign,
// digits, optional point and digits (".5" and "5." included).
struct Decimal {
    bool negative = false;
    std::string_view integer;  // without leading zeros
    std::string_view fraction; // without trailing zeros
    bool isZero() const { return integer.empty() && fraction.empty(); }
    // |value| > limit, for a whole-number limit of at most three digits.
    bool magnitudeAbove(int limit) const;
    // The value in billionths, rounded half up on the tenth decimal (as a
    // coordinate is written); for values of at most three whole digits.
    std::int64_t billionths() const;
};

// One feature as it goes on the map, read from a gazetteer record: the texts
// point into the record (raw, as the gazetteer has them), valid until the next.
struct Waypoint {
    std::string_view lat, lon; // checked decimals, as written
    Decimal latValue, lonValue;
    std::string_view name, featureClass, source;
    std::string_view featureId;      // digits, or empty when the record has none
    std::string_view county, state;  // as the gazetteer has them (the state a code or a name)
    std::string_view feet;     // the elevation in whole feet; empty when there is none
    std::string_view typeCode; // the map type code, "0x6616"
    bool summit = false;       // its label carries the elevation
};

// How waypoints are written into a file of one format: the head, each
// waypoint appended to a block the caller writes out, the end. A writer may
// count into the stats what only it knows (the widest values, values it cut).
class WaypointWriter {
public:
    virtual ~WaypointWriter() = default;
    virtual std::string head() const = 0;
    virtual void write(const Waypoint& waypoint, std::string& out, GpxStats& stats) = 0;
    virtual std::string tail() const = 0;
};

} // namespace gnis
