#include "gazetteer/gnis_records.h"

#include "gazetteer/clean_text.h"
#include "gazetteer/map_type.h"
#include "base/utf8.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <new>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace gnis {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimSpaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

// For messages: a column's text, cut short and without anything unprintable.
std::string shown(std::string_view s) {
    std::string out = "\"";
    for (char c : s.substr(0, 40))
        out += (static_cast<unsigned char>(c) < 0x20) ? '?' : c;
    if (s.size() > 40)
        out += "...";
    return out + "\"";
}

// Splits at "|" as far as the first `wanted` columns; returns how many were found.
std::size_t splitColumns(std::string_view record, std::string_view* columns, std::size_t wanted) {
    const char* const base = record.data();
    const std::size_t size = record.size();
    std::size_t count = 0;
    std::size_t start = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time: gazetteer columns are short, so a call per column costs more than the search.
    const __m128i bar = _mm_set1_epi8('|');
    for (; i + 16 <= size; i += 16) {
        auto mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(base + i)), bar)));
        while (mask) {
            const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
            columns[count++] = std::string_view(base + start, at - start);
            if (count == wanted)
                return count;
            start = at + 1;
            mask &= mask - 1;
        }
    }
#endif
    for (; i < size; ++i) {
        if (base[i] == '|') {
            columns[count++] = std::string_view(base + start, i - start);
            if (count == wanted)
                return count;
            start = i + 1;
        }
    }
    columns[count++] = std::string_view(base + start, size - start);
    return count;
}

} // namespace

bool ParseDecimal(std::string_view text, Decimal& out) {
    out = Decimal{};
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        out.negative = text[i] == '-';
        ++i;
    }
    const std::size_t intStart = i;
    while (i < text.size() && isDigit(text[i]))
        ++i;
    std::string_view integer = text.substr(intStart, i - intStart);
    std::string_view fraction;
    if (i < text.size() && text[i] == '.') {
        const std::size_t fracStart = ++i;
        while (i < text.size() && isDigit(text[i]))
            ++i;
        fraction = text.substr(fracStart, i - fracStart);
    }
    if (i != text.size() || (integer.empty() && fraction.empty()))
        return false;
    while (!integer.empty() && integer.front() == '0')
        integer.remove_prefix(1);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.remove_suffix(1);
    out.integer = integer;
    out.fraction = fraction;
    return true;
}

std::int64_t Decimal::billionths() const {
    // Rounded half up on the tenth decimal, as AppendCoordinate writes the value:
    // what is compared is what the files hold.
    std::int64_t value = 0;
    for (const char c : integer.substr(0, 9))
        value = value * 10 + (c - '0');
    for (std::size_t i = 0; i < 9; ++i)
        value = value * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    if (fraction.size() > 9 && fraction[9] >= '5')
        ++value;
    return negative ? -value : value;
}

bool Decimal::magnitudeAbove(int limit) const {
    if (integer.size() > 3)
        return true;
    int whole = 0;
    for (char c : integer)
        whole = whole * 10 + (c - '0');
    return whole > limit || (whole == limit && !fraction.empty());
}

bool ElevationFeet(std::string_view metres, std::int32_t& feet) {
    Decimal d;
    if (!ParseDecimal(metres, d))
        return false;
    // Ten digits of metres already give more feet than 32 bits hold.
    if (d.integer.size() > 10)
        return false;
    std::int64_t whole = 0;
    for (char c : d.integer)
        whole = whole * 10 + (c - '0');
    // Floor toward minus infinity: -2.1 m is -3 whole metres.
    const std::int64_t floored = d.negative ? -whole - (d.fraction.empty() ? 0 : 1) : whole;
    const double f = std::nearbyint(static_cast<double>(floored) * 3.2808399); // half to even
    if (!(f >= static_cast<double>(std::numeric_limits<std::int32_t>::min()) &&
          f <= static_cast<double>(std::numeric_limits<std::int32_t>::max())))
        return false;
    feet = static_cast<std::int32_t>(f);
    return true;
}

void AppendCoordinate(std::string& out, std::string_view text, const Decimal& value) {
    constexpr std::size_t kDecimals = 9;
    if (value.fraction.size() <= kDecimals && text.size() <= 16) {
        out += text;
        return;
    }
    // Rounded half up on the digits themselves: no binary floating point in between.
    std::string digits(value.integer);
    digits += value.fraction.substr(0, std::min(kDecimals, value.fraction.size()));
    std::size_t whole = value.integer.size();
    if (value.fraction.size() > kDecimals && value.fraction[kDecimals] >= '5') {
        std::size_t i = digits.size();
        while (i > 0 && digits[i - 1] == '9')
            digits[--i] = '0';
        if (i == 0) {
            digits.insert(digits.begin(), '1');
            ++whole;
        } else {
            ++digits[i - 1];
        }
    }
    std::string fraction = digits.substr(whole);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    const std::string integer = whole == 0 ? "0" : digits.substr(0, whole);
    if (value.negative && (integer != "0" || !fraction.empty()))
        out += '-';
    out += integer;
    if (!fraction.empty()) {
        out += '.';
        out += fraction;
    }
}

Outcome WaypointConverter::setHeader(std::string_view header) {
    int id = -1, name = -1, cls = -1, lat = -1, lon = -1, elevation = -1, source = -1, state = -1, county = -1;
    int index = 0;
    for (std::size_t start = 0;; ++index) {
        const std::size_t bar = header.find('|', start);
        const std::string_view column = trimSpaces(header.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
        auto take = [&](int& slot, std::string_view wanted) {
            if (slot < 0 && EqualsIgnoringCase(column, wanted))
                slot = index;
        };
        take(id, "FEATURE_ID");
        take(name, "FEATURE_NAME");
        take(cls, "FEATURE_CLASS");
        take(lat, "PRIM_LAT_DEC");
        take(lon, "PRIM_LONG_DEC");
        take(elevation, "ELEVATION");
        take(elevation, "ELEV_IN_M");
        take(source, "MAP_NAME");
        take(state, "STATE_ALPHA");
        take(state, "STATE_NAME");
        take(county, "COUNTY_NAME");
        if (bar == std::string_view::npos)
            break;
        start = bar + 1;
    }
    sawHeader_ = std::max({id, name, cls, lat, lon, elevation, source}) >= 0;
    if (cls >= 0 && lat >= 0) {
        if (lon < 0) {
            return Outcome::failure("the header names PRIM_LAT_DEC but no PRIM_LONG_DEC column");
        }
        id_ = id, name_ = name, class_ = cls, lat_ = lat, lon_ = lon, elevation_ = elevation, source_ = source;
        state_ = state, county_ = county;
        needed_ = static_cast<std::size_t>(std::max({id, name, cls, lat, lon, elevation, source, state, county})) + 1;
    }
    // Otherwise the classic fixed positions stay.
    columns_.assign(needed_, std::string_view{});
    return Outcome::success();
}

void GpxStats::noteMalformed(std::int64_t line, std::string reason) {
    ++malformed;
    if (firstMalformed.size() < kMalformedKept)
        firstMalformed.push_back({line, std::move(reason)});
}

namespace {

// Counted under the name as kept (trimmed, at most 80 bytes), so a long one is
// found again; a bounded number of classes.
void countClass(GpxStats::ClassCounts& counts, std::string_view featureClass, std::int64_t n = 1) {
    featureClass = trimSpaces(featureClass).substr(0, 80);
    if (const auto it = counts.find(featureClass); it != counts.end())
        it->second += n;
    else if (counts.size() < GpxStats::kClassesKept)
        counts.emplace(std::string(featureClass), n);
}

} // namespace

void GpxStats::add(const GpxStats& other) {
    records += other.records;
    waypoints += other.waypoints;
    leftOut += other.leftOut;
    noPosition += other.noPosition;
    duplicates += other.duplicates;
    outside += other.outside;
    areaApplied = areaApplied || other.areaApplied;
    countiesMatched |= other.countiesMatched;
    malformed += other.malformed;
    cutFields += other.cutFields;
    if (fatal.empty())
        fatal = other.fatal;
    widths.name = std::max(widths.name, other.widths.name);
    widths.desc = std::max(widths.desc, other.widths.desc);
    widths.src = std::max(widths.src, other.widths.src);
    widths.ele = std::max(widths.ele, other.widths.ele);
    for (const auto& m : other.firstMalformed) {
        if (firstMalformed.size() < kMalformedKept)
            firstMalformed.push_back(m);
    }
    for (const auto& [cls, count] : other.leftOutClasses)
        countClass(leftOutClasses, cls, count);
    for (const auto& [cls, count] : other.writtenClasses)
        countClass(writtenClasses, cls, count);
    if (!other.warning.empty())
        warning += (warning.empty() ? "" : " ") + other.warning;
    if (!other.notes.empty())
        notes += (notes.empty() ? "" : "; ") + other.notes;
}

void GpxStats::noteLeftOut(std::string_view featureClass) {
    ++leftOut;
    countClass(leftOutClasses, featureClass);
}

void GpxStats::noteWritten(std::string_view featureClass) { countClass(writtenClasses, featureClass); }

std::string GroupedNumber(std::int64_t n) {
    const std::string digits = std::to_string(n);
    const std::size_t sign = n < 0 ? 1 : 0;
    std::string out(digits, 0, sign);
    for (std::size_t i = sign; i < digits.size(); ++i) {
        if (i > sign && (digits.size() - i) % 3 == 0)
            out.push_back(',');
        out.push_back(digits[i]);
    }
    return out;
}

std::string GpxStats::countsText() const {
    std::string text = std::to_string(waypoints) + " waypoints written from " + std::to_string(records) + " records";
    text += "; " + std::to_string(leftOut) + " left out by the class table";
    if (leftOut > 0) {
        std::vector<std::pair<std::string_view, std::int64_t>> largest(leftOutClasses.begin(), leftOutClasses.end());
        constexpr std::size_t kShown = 5;
        const std::size_t shown = std::min(kShown, largest.size());
        std::partial_sort(largest.begin(), largest.begin() + static_cast<std::ptrdiff_t>(shown), largest.end(),
                          [](const auto& a, const auto& b) { return a.second != b.second ? a.second > b.second : a.first < b.first; });
        text += " (";
        for (std::size_t i = 0; i < shown; ++i) {
            const auto& [cls, count] = largest[i];
            text += (i ? ", " : "") + std::string(cls.empty() ? "no class" : cls) + " " + GroupedNumber(count);
        }
        std::int64_t listed = 0;
        for (std::size_t i = 0; i < shown; ++i)
            listed += largest[i].second;
        text += listed < leftOut ? ", …)" : ")";
    }
    if (noPosition > 0)
        text += "; " + std::to_string(noPosition) + " without a position";
    if (areaApplied || outside > 0)
        text += "; " + std::to_string(outside) + " outside the area";
    if (cutFields > 0)
        text += "; " + std::to_string(cutFields) + " values cut to the shapefile's " + std::to_string(kDbfFieldBytes) + " bytes";
    text += "; " + std::to_string(duplicates) + " duplicates skipped";
    text += "; " + std::to_string(malformed) + " skipped as malformed";
    return text;
}

std::string GpxStats::summaryText() const {
    std::string summary = countsText();
    if (!firstMalformed.empty()) {
        summary += " (";
        for (std::size_t i = 0; i < firstMalformed.size(); ++i)
            summary += (i ? "; line " : "line ") + std::to_string(firstMalformed[i].line) + ": " + firstMalformed[i].reason;
        summary += malformed > static_cast<std::int64_t>(firstMalformed.size()) ? "; ...)" : ")";
    }
    return summary;
}

void FeatureIdSet::Free::operator()(void* p) const { std::free(p); }

FeatureIdSet::Insert FeatureIdSet::insert(std::uint64_t id) {
    if (id >= kBitmapIds) {
        if (large_.size() >= kLargeIdsKept && large_.count(id) == 0)
            return Insert::Full;
        const bool fresh = large_.insert(id).second;
        size_ += fresh;
        return fresh ? Insert::Added : Insert::Present;
    }
    if (!bitmap_) {
        bitmap_.reset(static_cast<std::uint64_t*>(std::calloc(kBitmapIds / 64, sizeof(std::uint64_t))));
        if (!bitmap_)
            throw std::bad_alloc();
    }
    std::uint64_t& word = bitmap_[id / 64];
    const std::uint64_t bit = std::uint64_t(1) << (id % 64);
    if (word & bit)
        return Insert::Present;
    word |= bit;
    ++size_;
    return Insert::Added;
}

MapType WaypointConverter::mapType(std::string_view featureClass) const {
    return classes_ ? classes_->lookup(featureClass) : LookupMapType(featureClass);
}

bool WaypointConverter::admit(std::string_view record, GpxStats& stats) {
    if (columns_.size() != needed_)
        columns_.assign(needed_, std::string_view{});
    const auto classEnd = static_cast<std::size_t>(class_) + 1;
    if (splitColumns(record, columns_.data(), classEnd) != classEnd || !mapType(columns_[classEnd - 1]).code.empty())
        return true;
    ++stats.records;
    stats.noteLeftOut(columns_[classEnd - 1]);
    return false;
}

void WaypointConverter::convert(std::string_view record, std::int64_t lineNumber, std::string& out,
                                GpxStats& stats) {
    if (columns_.size() != needed_)
        columns_.assign(needed_, std::string_view{});
    ++stats.records;

    // The class decides first, so the third of all records that never go on the
    // map cost no more than the split as far as their class.
    const auto classEnd = static_cast<std::size_t>(class_) + 1;
    std::size_t count = splitColumns(record, columns_.data(), classEnd);
    MapType type;
    if (count == classEnd) {
        type = mapType(columns_[classEnd - 1]);
        if (type.code.empty()) {
            stats.noteLeftOut(columns_[classEnd - 1]);
            return;
        }
        const std::string_view& cls = columns_[classEnd - 1];
        const std::size_t rest = static_cast<std::size_t>(cls.data() + cls.size() - record.data());
        if (needed_ > classEnd && rest < record.size())
            count += splitColumns(record.substr(rest + 1), columns_.data() + classEnd, needed_ - classEnd);
    }
    if (count < needed_) {
        stats.noteMalformed(lineNumber, "it has " + std::to_string(count) + " columns, " +
                                         std::to_string(needed_) + " are needed");
        return;
    }
    auto column = [&](int i) { return i < 0 ? std::string_view{} : columns_[static_cast<std::size_t>(i)]; };

    const std::string_view latText = column(lat_), lonText = column(lon_);
    Decimal lat, lon;
    if (!ParseDecimal(latText, lat)) {
        stats.noteMalformed(lineNumber, "latitude " + shown(latText) + " is not a decimal number");
        return;
    }
    if (!ParseDecimal(lonText, lon)) {
        stats.noteMalformed(lineNumber, "longitude " + shown(lonText) + " is not a decimal number");
        return;
    }
    if (lat.isZero() || lon.isZero()) {
        ++stats.noPosition;
        return;
    }
    if (lat.magnitudeAbove(90)) {
        stats.noteMalformed(lineNumber, "latitude " + shown(latText) + " is outside -90..90");
        return;
    }
    if (lon.magnitudeAbove(180)) {
        stats.noteMalformed(lineNumber, "longitude " + shown(lonText) + " is outside -180..180");
        return;
    }
    if (area_) {
        const int county = area_->countyOf(column(county_), column(state_));
        if (county < 0 || !area_->containsScaled(lat.billionths(), lon.billionths())) {
            ++stats.outside;
            return;
        }
        if (county < 64)
            stats.countiesMatched |= std::uint64_t(1) << county;
    }
    const std::string_view cls = column(class_);

    const std::string_view elevationText = column(elevation_);
    std::int32_t feet = 0;
    const bool hasElevation = !elevationText.empty();
    if (hasElevation && !ElevationFeet(elevationText, feet)) {
        stats.noteMalformed(lineNumber, "elevation " + shown(elevationText) + " is not a usable number of metres");
        return;
    }
    char feetText[16];
    std::size_t feetLength = 0;
    if (hasElevation)
        feetLength = static_cast<std::size_t>(std::to_chars(feetText, feetText + sizeof feetText, feet).ptr - feetText);
    const std::string_view feetView(feetText, feetLength);

    // Only written features are remembered: the set grows with the output, not the input.
    if (ids_) {
        std::uint64_t id = 0;
        const std::string_view idText = trimSpaces(column(id_));
        const auto [end, ec] = std::from_chars(idText.data(), idText.data() + idText.size(), id);
        // A missing or odd id cannot be matched, so that feature is kept.
        if (!idText.empty() && ec == std::errc() && end == idText.data() + idText.size()) {
            const FeatureIdSet::Insert inserted = ids_->insert(id);
            if (inserted == FeatureIdSet::Insert::Full) {
                if (stats.fatal.empty())
                    stats.fatal = "more than " + GroupedNumber(FeatureIdSet::kLargeIdsKept) +
                                  " feature ids above 134,217,727 (line " + std::to_string(lineNumber) +
                                  "); GNIS ids are below 3 million, so this is no gazetteer";
                return;
            }
            if (inserted == FeatureIdSet::Insert::Present) {
                ++stats.duplicates;
                return;
            }
        }
    }

    Waypoint waypoint;
    waypoint.lat = latText;
    waypoint.lon = lonText;
    waypoint.latValue = lat;
    waypoint.lonValue = lon;
    waypoint.name = column(name_);
    waypoint.featureClass = cls;
    waypoint.source = trimSpaces(column(source_));
    waypoint.featureId = trimSpaces(column(id_));
    if (waypoint.featureId.find_first_not_of("0123456789") != std::string_view::npos)
        waypoint.featureId = {}; // no number a reader could join on
    waypoint.county = trimSpaces(column(county_));
    waypoint.state = trimSpaces(column(state_));
    waypoint.feet = feetView;
    waypoint.typeCode = type.code;
    waypoint.summit = hasElevation && type.summit;
    if (writer_)
        writer_->write(waypoint, out, stats);
    ++stats.waypoints;
    stats.noteWritten(cls);
}

} // namespace gnis
