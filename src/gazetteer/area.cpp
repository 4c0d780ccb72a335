#include "gazetteer/area.h"

#include "base/utf8.h"
#include "gazetteer/gnis_records.h"
#include "gazetteer/states.h"

#include <cmath>

namespace gnis {
namespace {

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// "\"text\"", appended piece by piece: GCC 12 at -O3 warns of an overlapping
// copy for a short literal put before a temporary string.
std::string quoted(std::string_view text) {
    std::string q = "\"";
    q += text;
    q += '"';
    return q;
}

std::vector<std::string_view> split(std::string_view text, char at) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(at, start);
        parts.push_back(trimmed(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start)));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

// A plain decimal (no exponent, no "nan"), in billionths of a degree rounded
// as the files write it.
bool number(std::string_view text, std::int64_t& billionths) {
    Decimal d;
    if (!ParseDecimal(text, d) || d.magnitudeAbove(999))
        return false;
    billionths = d.billionths();
    return true;
}

bool startsWithWord(std::string_view text, std::string_view word, std::string_view& rest) {
    if (text.size() < word.size() || !EqualsIgnoringCase(text.substr(0, word.size()), word))
        return false;
    rest = trimmed(text.substr(word.size()));
    return text.size() == word.size() || text[word.size()] == ' ';
}

} // namespace

Outcome Area::setBox(std::string_view text) {
    const std::vector<std::string_view> parts = split(trimmed(text), ',');
    const char* const usage = "; give WEST,SOUTH,EAST,NORTH in decimal degrees, such as -71.9,43.9,-70.9,44.6";
    if (parts.size() != 4)
        return Outcome::failure("the box " + quoted(text) + " has " + std::to_string(parts.size()) +
                                " numbers, not 4" + usage);
    std::int64_t e9[4];
    for (int i = 0; i < 4; ++i) {
        if (!number(parts[static_cast<std::size_t>(i)], e9[i]))
            return Outcome::failure("the box's " + quoted(parts[static_cast<std::size_t>(i)]) +
                                    " is not a decimal number" + usage);
    }
    constexpr std::int64_t k180 = 180 * std::int64_t(1000000000), k90 = 90 * std::int64_t(1000000000);
    if (e9[0] < -k180 || e9[0] > k180 || e9[2] < -k180 || e9[2] > k180)
        return Outcome::failure("the box's west and east must lie in -180..180");
    if (e9[1] < -k90 || e9[1] > k90 || e9[3] < -k90 || e9[3] > k90)
        return Outcome::failure("the box's south and north must lie in -90..90");
    if (e9[1] >= e9[3])
        return Outcome::failure("the box's south (" + std::string(parts[1]) + ") must be below its north (" +
                                std::string(parts[3]) + ")");
    if (e9[0] == e9[2])
        return Outcome::failure("the box's west and east are the same longitude");
    hasBox_ = true;
    westE9_ = e9[0], southE9_ = e9[1], eastE9_ = e9[2], northE9_ = e9[3];
    boxText_.clear();
    for (int i = 0; i < 4; ++i)
        (boxText_ += i ? "," : "") += parts[static_cast<std::size_t>(i)];
    return Outcome::success();
}

Outcome Area::setCounties(std::string_view text) {
    std::vector<County> counties;
    for (const std::string_view item : split(text, ',')) {
        if (item.empty())
            return Outcome::failure("the county list " + quoted(text) + " has an empty name");
        County county{std::string(item), {}};
        std::string_view name = item;
        // "Coos NH" or "Coos New Hampshire": the state comes last.
        if (const std::size_t space = name.rfind(' '); space != std::string_view::npos) {
            const std::string_view last = name.substr(space + 1);
            const int state = last.size() == 2 ? FindState(last) : -1;
            if (state >= 0 && !IsNational(state)) {
                county.state = std::string(stateCodes[static_cast<std::size_t>(state)]);
                name = trimmed(name.substr(0, space));
            }
        }
        for (std::size_t s = 0; county.state.empty() && s < kStateCount; ++s) {
            const std::string_view full = stateNames[s];
            if (!IsNational(static_cast<int>(s)) && name.size() > full.size() + 1 && name[name.size() - full.size() - 1] == ' ' &&
                EqualsIgnoringCase(name.substr(name.size() - full.size()), full)) {
                county.state = std::string(stateCodes[s]);
                name = trimmed(name.substr(0, name.size() - full.size() - 1));
            }
        }
        for (const std::string_view kind : {" county", " parish", " borough", " census area", " municipality"}) {
            if (name.size() > kind.size() && EqualsIgnoringCase(name.substr(name.size() - kind.size()), kind)) {
                name = trimmed(name.substr(0, name.size() - kind.size()));
                break;
            }
        }
        county.name = std::string(name);
        counties.push_back(std::move(county));
    }
    counties_ = std::move(counties);
    return Outcome::success();
}

Outcome Area::setText(std::string_view text) {
    Area area;
    for (const std::string_view part : split(text, ';')) {
        std::string_view rest;
        if (part.empty())
            continue;
        Outcome set = startsWithWord(part, "bbox", rest)     ? area.setBox(rest)
                      : startsWithWord(part, "county", rest) ? area.setCounties(rest)
                                                             : Outcome::failure(quoted(part) +
                                                                                " is no area; an area is \"bbox W,S,E,N\" or \"county NAME,NAME\"");
        if (!set)
            return set;
    }
    *this = std::move(area);
    return Outcome::success();
}

namespace {

std::string countyList(const auto& counties, const char* between) {
    std::string text;
    for (const auto& c : counties)
        ((text += text.empty() ? "" : between) += c.name) += c.state.empty() ? "" : " " + c.state;
    return text;
}

} // namespace

std::string Area::text() const {
    std::string text;
    if (hasBox_)
        text = "bbox " + boxText_;
    if (!counties_.empty())
        (text += text.empty() ? "" : "; ") += "county " + countyList(counties_, ",");
    return text;
}

std::string Area::description() const {
    if (empty())
        return "whole state";
    std::string text;
    if (hasBox_)
        text = "box " + boxText_;
    if (!counties_.empty())
        (text += text.empty() ? "" : " and ") += (counties_.size() == 1 ? "county " : "counties ") + countyList(counties_, ", ");
    return text;
}

std::string Area::mapName() const {
    // Counties in title case, so "bristol" and "Bristol" name one map (and give it one ID).
    std::vector<County> titled = counties_;
    for (County& c : titled) {
        bool start = true;
        for (char& ch : c.name) {
            if (ch >= 'a' && ch <= 'z' && start)
                ch = static_cast<char>(ch - 'a' + 'A');
            else if (ch >= 'A' && ch <= 'Z' && !start)
                ch = static_cast<char>(ch - 'A' + 'a');
            start = ch == ' ' || ch == '-';
        }
    }
    std::string name = countyList(titled, " ");
    if (hasBox_) {
        std::string box = boxText_;
        for (char& c : box)
            c = c == ',' ? ' ' : c;
        (name += name.empty() ? "" : " ") += "box " + box;
    }
    return name;
}

bool Area::containsPosition(double lat, double lon) const {
    return containsScaled(std::llround(lat * kScale), std::llround(lon * kScale));
}

bool Area::containsScaled(std::int64_t lat, std::int64_t lon) const {
    if (!hasBox_)
        return true;
    if (lat < southE9_ || lat > northE9_)
        return false;
    // West past east: the box runs across the antimeridian.
    return westE9_ < eastE9_ ? lon >= westE9_ && lon <= eastE9_ : lon >= westE9_ || lon <= eastE9_;
}

int Area::countyOf(std::string_view county, std::string_view state) const {
    if (counties_.empty())
        return 0;
    county = trimmed(county);
    state = trimmed(state);
    for (std::size_t i = 0; i < counties_.size(); ++i) {
        const County& c = counties_[i];
        if (!EqualsIgnoringCase(county, c.name))
            continue;
        if (c.state.empty() || EqualsIgnoringCase(state, c.state))
            return static_cast<int>(i);
        const int index = FindState(c.state);
        if (index >= 0 && EqualsIgnoringCase(state, stateNames[static_cast<std::size_t>(index)]))
            return static_cast<int>(i);
    }
    return -1;
}

std::string Area::countyName(std::size_t index) const {
    const County& c = counties_.at(index);
    return c.state.empty() ? c.name : c.name + " " + c.state;
}

} // namespace gnis
