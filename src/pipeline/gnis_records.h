#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gnis {

struct MalformedRecord {
    std::int64_t line = 0;
    std::string reason;
};

struct GpxStats {
    std::int64_t records = 0;   // non-empty lines after the header
    std::int64_t waypoints = 0;
    std::int64_t malformed = 0;
    std::vector<MalformedRecord> firstMalformed; // the first few, for the user
    static constexpr std::size_t kMalformedKept = 5;
    std::string warning; // something the user must know although the run succeeded

    // Counts a record that could not be read, keeping the reason of the first few.
    void noteMalformed(std::int64_t line, std::string reason);
};

// A plain decimal number in the lexical form of xs:decimal: optional sign,
// digits, optional point and digits (".5" and "5." included).
struct Decimal {
    bool negative = false;
    std::string_view integer;  // without leading zeros
    std::string_view fraction; // without trailing zeros
    bool isZero() const { return integer.empty() && fraction.empty(); }
    // |value| > limit, for a whole-number limit of at most three digits.
    bool magnitudeAbove(int limit) const;
};
bool ParseDecimal(std::string_view text, Decimal& out);

// Feet for an elevation in metres: floored to whole metres, times 3.2808399,
// rounded half to even. False when the text is not a plain decimal or the feet
// do not fit in 32 bits.
bool ElevationFeet(std::string_view metres, std::int32_t& feet);

// Turns gazetteer records into GPX waypoint blocks. Columns are found by the
// header's names when it has them, else at the classic fixed positions.
class WaypointConverter {
public:
    // Reads the header line. False, with a message, when it cannot be used.
    bool setHeader(std::string_view header, std::string& error);
    // Appends the record's waypoint to out, or nothing when it is dropped or malformed.
    void convert(std::string_view record, std::int64_t lineNumber, std::string& out, GpxStats& stats);

private:
    int name_ = 1, class_ = 2, lat_ = 9, lon_ = 10, elevation_ = 15, source_ = 16;
    std::size_t needed_ = 17; // columns a record must have
    std::vector<std::string_view> columns_;
};

} // namespace gnis
