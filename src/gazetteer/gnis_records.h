#pragma once

#include "base/outcome.h"
#include "gazetteer/area.h"
#include "gazetteer/class_table.h"
#include "gazetteer/waypoint.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace gnis {

// The most a dBase text field holds, in bytes.
inline constexpr std::size_t kDbfFieldBytes = 254;

struct MalformedRecord {
    std::int64_t line = 0;
    std::string reason;
};

struct GpxStats {
    std::int64_t records = 0;   // non-empty lines after the header
    std::int64_t waypoints = 0;
    std::int64_t malformed = 0;
    std::int64_t leftOut = 0;    // of classes the map type table does not hold
    std::int64_t noPosition = 0; // latitude or longitude zero: the position is unknown
    std::int64_t duplicates = 0; // a feature id already written
    std::int64_t outside = 0;    // outside the run's area
    bool areaApplied = false;    // the run kept an area only, so the counts name it
    std::uint64_t countiesMatched = 0; // bit i: a record lay in the area's county i (the first 64)
    std::int64_t cutFields = 0;  // values cut to the shapefile's field width
    std::vector<MalformedRecord> firstMalformed; // the first few, for the user
    static constexpr std::size_t kMalformedKept = 5;
    std::string warning; // something the user must know although the run succeeded
    std::string notes;   // where the texts came from, when worth saying ("Massachusetts: unchanged since …")
    std::string changes; // what changed since the last run of the same kind ("Since 2026-10-01: 37 new, …")
    // Set when the text cannot be converted at all (not a record's fault); the
    // conversion stops with it.
    std::string fatal;
    // The widest value written of each field, in bytes as a reader of the file
    // gets them back (entities undone): the shapefile's columns need no more.
    struct Widths {
        std::size_t name = 0, desc = 0, src = 0, ele = 0;
    } widths;

    // Records left out by the class table, per class. A hostile text could name
    // endless classes, so only the first kClassesKept distinct ones are kept apart.
    struct TransparentHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    using ClassCounts = std::unordered_map<std::string, std::int64_t, TransparentHash, std::equal_to<>>;
    ClassCounts leftOutClasses;
    ClassCounts writtenClasses; // the waypoints written, per class, the same way
    static constexpr std::size_t kClassesKept = 1000;

    // Counts a record that could not be read, keeping the reason of the first few.
    void noteMalformed(std::int64_t line, std::string reason);
    // Adds the counts of another part of the same run.
    void add(const GpxStats& other);
    void noteLeftOut(std::string_view featureClass);
    void noteWritten(std::string_view featureClass);
    // "21385 waypoints written from 31176 records; 9784 left out by the class
    // table (Stream 2,187, Lake 1,552, …); 7 duplicates skipped; 0 skipped as malformed"
    std::string countsText() const;
    // The same with the line numbers and reasons of the first malformed records.
    std::string summaryText() const;
};

// The feature ids written so far, so that a feature found in several state
// files (they overlap at the borders) or twice in one goes in only once. GNIS
// ids are whole numbers below three million, listed in order: a bitmap over
// the first 2^27 ids holds them at one bit each (16 MiB at most, of which only
// the pages the ids fall on are ever touched). Larger ids go to a hash table.
class FeatureIdSet {
public:
    enum class Insert { Added, Present, Full };
    // Added when the id was not there yet; Full when it is a large id and
    // kLargeIdsKept of them are held already (no real gazetteer comes near).
    Insert insert(std::uint64_t id);
    std::size_t size() const { return size_; }
    static constexpr std::size_t kLargeIdsKept = 1000000;

private:
    struct Free {
        void operator()(void* p) const;
    };
    static constexpr std::uint64_t kBitmapIds = std::uint64_t(1) << 27;
    // calloc'ed: the kernel hands out zeroed pages as they are first touched.
    std::unique_ptr<std::uint64_t[], Free> bitmap_;
    std::unordered_set<std::uint64_t> large_;
    std::size_t size_ = 0;
};

// "1,552": digits grouped by thousands, for counts people read.
std::string GroupedNumber(std::int64_t n);

bool ParseDecimal(std::string_view text, Decimal& out);

// A coordinate as the files get it: as written when it is short, else rounded
// to 9 decimals (under a millimetre), so an absurdly long number cannot make a
// file fail its schema.
void AppendCoordinate(std::string& out, std::string_view text, const Decimal& value);

// Feet for an elevation in metres: floored to whole metres, times 3.2808399,
// rounded half to even. False when the text is not a plain decimal or the feet
// do not fit in 32 bits.
bool ElevationFeet(std::string_view metres, std::int32_t& feet);

// Turns gazetteer records into waypoints for a writer. Columns are found by
// the header's names when it has them, else at the classic fixed positions.
class WaypointConverter {
public:
    // ids, when given, makes the converter skip features whose id it already
    // holds; writer, when given, writes the waypoints (none is only for admit()).
    // classes, when given, is the map maker's own table instead of the built-in
    // one; area, when given and not empty, keeps only the records inside it.
    explicit WaypointConverter(FeatureIdSet* ids = nullptr, WaypointWriter* writer = nullptr,
                               const ClassTable* classes = nullptr, const Area* area = nullptr)
        : ids_(ids), writer_(writer), classes_(classes), area_(area && !area->empty() ? area : nullptr) {}
    // Reads the first line. Fails when it is a header that cannot be used. A line that names no known column is no header: the
    // classic fixed positions stay and the line is a record (sawHeader() false).
    [[nodiscard]] Outcome setHeader(std::string_view header);
    bool sawHeader() const { return sawHeader_; }
    // The class decides first: a record whose class the map type table does
    // not hold is counted (as a record, and as left out) and false returned.
    // True when the record must go through convert().
    bool admit(std::string_view record, GpxStats& stats);
    // Appends the record's waypoint to out through the writer, or nothing when
    // it is dropped or malformed.
    void convert(std::string_view record, std::int64_t lineNumber, std::string& out, GpxStats& stats);

private:
    MapType mapType(std::string_view featureClass) const;
    FeatureIdSet* ids_;
    WaypointWriter* writer_;
    const ClassTable* classes_;
    const Area* area_;
    int id_ = 0, name_ = 1, class_ = 2, state_ = 3, county_ = 5, lat_ = 9, lon_ = 10, elevation_ = 15, source_ = 16;
    std::size_t needed_ = 17; // columns a record must have
    bool sawHeader_ = false;
    std::vector<std::string_view> columns_;
};

} // namespace gnis
