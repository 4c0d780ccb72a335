#include "gazetteer/area.h"

#include "base/utf8.h"
#include "gazetteer/states.h"

#include <charconv>
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

bool number(std::string_view text, double& value) {
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
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
        return Outcome::failure("the box \"" + std::string(text) + "\" has " + std::to_string(parts.size()) +
                                " numbers, not 4" + usage);
    double v[4];
    for (int i = 0; i < 4; ++i) {
        if (!number(parts[static_cast<std::size_t>(i)], v[i]))
            return Outcome::failure("the box's \"" + std::string(parts[static_cast<std::size_t>(i)]) +
                                    "\" is not a decimal number" + usage);
    }
    if (v[0] < -180 || v[0] > 180 || v[2] < -180 || v[2] > 180)
        return Outcome::failure("the box's west and east must lie in -180..180");
    if (v[1] < -90 || v[1] > 90 || v[3] < -90 || v[3] > 90)
        return Outcome::failure("the box's south and north must lie in -90..90");
    if (v[1] >= v[3])
        return Outcome::failure("the box's south (" + std::string(parts[1]) + ") must be below its north (" +
                                std::string(parts[3]) + ")");
    if (v[0] == v[2])
        return Outcome::failure("the box's west and east are the same longitude");
    hasBox_ = true;
    west_ = v[0], south_ = v[1], east_ = v[2], north_ = v[3];
    // A bound has at most 12 significant digits that matter, which a double holds exactly enough to round back.
    westE9_ = std::llround(v[0] * kScale), southE9_ = std::llround(v[1] * kScale);
    eastE9_ = std::llround(v[2] * kScale), northE9_ = std::llround(v[3] * kScale);
    boxText_.clear();
    for (int i = 0; i < 4; ++i)
        (boxText_ += i ? "," : "") += parts[static_cast<std::size_t>(i)];
    return Outcome::success();
}

Outcome Area::setCounties(std::string_view text) {
    std::vector<County> counties;
    for (const std::string_view item : split(text, ',')) {
        if (item.empty())
            return Outcome::failure("the county list \"" + std::string(text) + "\" has an empty name");
        County county{std::string(item), {}};
        // "Coos NH": the last word is a state when it is a state's code.
        if (const std::size_t space = item.rfind(' '); space != std::string_view::npos) {
            const std::string_view last = item.substr(space + 1);
            const int state = last.size() == 2 ? FindState(last) : -1;
            if (state >= 0 && !IsNational(state)) {
                county.name = std::string(trimmed(item.substr(0, space)));
                county.state = std::string(stateCodes[static_cast<std::size_t>(state)]);
            }
        }
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
                                                             : Outcome::failure("\"" + std::string(part) +
                                                                                "\" is no area; an area is \"bbox W,S,E,N\" or \"county NAME,NAME\"");
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
    std::string name = countyList(counties_, " ");
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

bool Area::containsCounty(std::string_view county, std::string_view state) const {
    if (counties_.empty())
        return true;
    county = trimmed(county);
    state = trimmed(state);
    for (const County& c : counties_) {
        if (!EqualsIgnoringCase(county, c.name))
            continue;
        if (c.state.empty() || EqualsIgnoringCase(state, c.state))
            return true;
        const int index = FindState(c.state);
        if (index >= 0 && EqualsIgnoringCase(state, stateNames[static_cast<std::size_t>(index)]))
            return true;
    }
    return false;
}

} // namespace gnis
