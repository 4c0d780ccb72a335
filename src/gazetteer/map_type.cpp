#include "gazetteer/map_type.h"

#include <array>
#include <cstddef>

namespace gnis {
namespace {

struct Row {
    std::string_view cls;
    std::string_view code;
};

// Alphabetical. "dam" is the class the gazetteer really uses; "damn" is kept
// for lists that were made against the old table.
constexpr std::array<Row, 41> kRows{{
    {"airport", "0x2F04"},  {"arch", "0x6601"},     {"area", "0x6602"},
    {"arroyo", "0x6501"},   {"bar", "0x6502"},      {"basin", "0x6603"},
    {"bay", "0x6503"},      {"bench", "0x6605"},    {"bridge", "0x6401"},
    {"canal", "0x6505"},    {"cape", "0x6606"},     {"cemetery", "0x6403"},
    {"church", "0x6404"},   {"cliff", "0x6607"},    {"crossing", "0x6406"},
    {"dam", "0x5500"},      {"damn", "0x5500"},     {"falls", "0x6508"},
    {"gap", "0x660B"},      {"hospital", "0x3002"}, {"island", "0x650C"},
    {"lava", "0x660E"},     {"locale", "0x640A"},   {"mine", "0x640C"},
    {"park", "0x640E"},     {"plain", "0x6610"},    {"populated place", "0x0D00"},
    {"range", "0x6611"},    {"rapids", "0x650E"},   {"reservoir", "0x650F"},
    {"ridge", "0x6613"},    {"school", "0x2C05"},   {"slope", "0x6615"},
    {"spring", "0x6511"},   {"summit", "0x6616"},   {"swamp", "0x6513"},
    {"tower", "0x6411"},    {"trail", "0x6412"},    {"tunnel", "0x6413"},
    {"valley", "0x6617"},   {"well", "0x6414"},
}};

constexpr std::size_t kLongestClass = 15; // "populated place"

// Open addressing over a small hash of length, first, second and last letter:
// one comparison for nearly every class, whatever the table holds.
constexpr std::size_t kSlots = 256;

constexpr std::size_t slotOf(std::size_t size, char first, char second, char last) {
    const auto c = [](char ch) { return static_cast<std::size_t>(static_cast<unsigned char>(ch)); };
    return (size * 67 + c(first) * 31 + c(second) * 7 + c(last)) % kSlots;
}

struct Slots {
    std::array<unsigned char, kSlots> row{}; // row index + 1, 0 when empty
};

constexpr Slots makeSlots() {
    Slots s;
    for (std::size_t r = 0; r < kRows.size(); ++r) {
        const std::string_view cls = kRows[r].cls;
        std::size_t i = slotOf(cls.size(), cls[0], cls[1], cls.back());
        while (s.row[i] != 0)
            i = (i + 1) % kSlots;
        s.row[i] = static_cast<unsigned char>(r + 1);
    }
    return s;
}

constexpr Slots kSlotTable = makeSlots();

constexpr std::size_t findRow(std::string_view cls) {
    std::size_t r = 0;
    while (kRows[r].cls != cls)
        ++r;
    return r;
}
constexpr std::size_t kSummitRow = findRow("summit");

} // namespace

MapType LookupMapType(std::string_view featureClass) {
    const std::size_t size = featureClass.size();
    if (size < 2 || size > kLongestClass)
        return {};
    const auto lower = [&](std::size_t i) {
        const char c = featureClass[i];
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    for (std::size_t i = slotOf(size, lower(0), lower(1), lower(size - 1)); kSlotTable.row[i] != 0; i = (i + 1) % kSlots) {
        const std::size_t r = kSlotTable.row[i] - 1u;
        const std::string_view cls = kRows[r].cls;
        if (cls.size() != size)
            continue;
        std::size_t k = 0;
        while (k < size && cls[k] == lower(k))
            ++k;
        if (k == size)
            return {kRows[r].code, r == kSummitRow};
    }
    return {};
}

std::vector<std::pair<std::string_view, std::string_view>> BuiltInMapTypes() {
    std::vector<std::pair<std::string_view, std::string_view>> rows;
    for (const Row& r : kRows)
        rows.emplace_back(r.cls, r.code);
    return rows;
}

std::string_view GetMapType(std::string_view featureClass) {
    const MapType type = LookupMapType(featureClass);
    return type.code.empty() ? kDeleteType : type.code;
}

} // namespace gnis
