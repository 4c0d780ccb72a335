#include "gazetteer/gnis_source.h"

#include "gazetteer/states.h"
#include "base/utf8.h"

#include <array>

namespace gnis {
namespace {

constexpr std::array<std::string_view, 3> kNames{"current", "2021", "2009"};

std::string withoutTrailingSlash(std::string base) {
    while (!base.empty() && (base.back() == '/' || base.back() == '\\'))
        base.pop_back();
    return base;
}

bool endsWithIgnoringCase(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && EqualsIgnoringCase(text.substr(text.size() - tail.size()), tail);
}

// "ST_Features_YYYYMMDD.txt", the naming of the 2009 and 2021 state files.
bool isDatedFeatures(std::string_view file, std::string_view code) {
    constexpr std::string_view middle = "_Features_";
    constexpr std::size_t size = 2 + middle.size() + 8 + 4;
    if (file.size() != size || !EqualsIgnoringCase(file.substr(0, 2), code) ||
        !EqualsIgnoringCase(file.substr(2, middle.size()), middle) || !endsWithIgnoringCase(file, ".txt"))
        return false;
    for (const char c : file.substr(2 + middle.size(), 8)) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

} // namespace

std::string_view GnisSourceName(GnisSource source) { return kNames[static_cast<std::size_t>(source)]; }

bool ParseGnisSource(std::string_view text, GnisSource& source) {
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (EqualsIgnoringCase(text, kNames[i])) {
            source = static_cast<GnisSource>(i);
            return true;
        }
    }
    return false;
}

std::string DefaultGnisServer(GnisSource source) {
    return source == GnisSource::Classic2009 ? "http://geonames.usgs.gov" : "https://prd-tnm.s3.amazonaws.com";
}

GazetteerLocation LocateGazetteer(GnisSource source, const std::string& server, int stateIndex) {
    GazetteerLocation where;
    if (stateIndex < 0 || stateIndex >= static_cast<int>(kStateCount))
        return where;
    const std::string code(stateCodes[static_cast<std::size_t>(stateIndex)]);
    const bool national = IsNational(stateIndex);
    const std::string base = withoutTrailingSlash(server);
    switch (source) {
    case GnisSource::Current: {
        const std::string stem = "DomesticNames_" + (national ? std::string("National") : code);
        where.url = base + "/StagedProducts/GeographicNames/DomesticNames/" + stem + "_Text.zip";
        where.textName = stem + ".txt";
        break;
    }
    case GnisSource::Archive2021:
        if (national) {
            where.url = base + "/StagedProducts/GeographicNames/Archive/MainDomestic/NationalFile.zip";
        } else {
            where.textName = code + "_Features_20210825.txt";
            where.url = base + "/StagedProducts/GeographicNames/Archive/MainDomestic/" + where.textName;
            where.zipped = false;
        }
        break;
    case GnisSource::Classic2009:
        if (!national) {
            where.url = base + "/docs/stategaz/" + code + "_Features_20090401.zip";
            where.textName = code + "_Features_20090401.txt";
        }
        break;
    }
    return where;
}

MemberFit FitStateText(std::string_view memberName, int stateIndex, GnisSource source) {
    if (stateIndex < 0 || stateIndex >= static_cast<int>(kStateCount))
        return MemberFit::None;
    const std::size_t slash = memberName.find_last_of("/\\");
    const std::string_view file = slash == std::string_view::npos ? memberName : memberName.substr(slash + 1);
    const std::string exact = LocateGazetteer(source, "", stateIndex).textName;
    if (!exact.empty() && EqualsIgnoringCase(file, exact))
        return MemberFit::Exact;
    // Another release's name for a state's own text.
    auto stateText = [&](std::string_view code) {
        return EqualsIgnoringCase(file, "DomesticNames_" + std::string(code) + ".txt") || isDatedFeatures(file, code);
    };
    if (!IsNational(stateIndex))
        return stateText(stateCodes[static_cast<std::size_t>(stateIndex)]) ? MemberFit::Other : MemberFit::None;
    // The national archive of 2021 names its one text member freely; any text
    // will do, as long as it is not one state's.
    if (!endsWithIgnoringCase(file, ".txt"))
        return MemberFit::None;
    for (const std::string_view code : stateCodes) {
        if (code != kNationalCode && stateText(code))
            return MemberFit::None;
    }
    return MemberFit::Other;
}

} // namespace gnis
