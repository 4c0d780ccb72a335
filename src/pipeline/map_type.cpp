#include "map_type.h"

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

// For each initial letter, the range of rows that start with it, so a lookup
// compares against a handful of rows at most.
struct Buckets {
    std::array<unsigned char, 27> begin{};
};

constexpr Buckets makeBuckets() {
    Buckets b;
    std::size_t row = 0;
    for (std::size_t letter = 0; letter < 26; ++letter) {
        b.begin[letter] = static_cast<unsigned char>(row);
        while (row < kRows.size() && static_cast<std::size_t>(kRows[row].cls[0] - 'a') == letter)
            ++row;
    }
    b.begin[26] = static_cast<unsigned char>(row);
    return b;
}

constexpr Buckets kBuckets = makeBuckets();
static_assert(kBuckets.begin[26] == kRows.size(), "table must be sorted by first letter");

} // namespace

std::string_view GetMapType(std::string_view featureClass) {
    if (featureClass.empty() || featureClass.size() > kLongestClass)
        return kDeleteType;
    char lower[kLongestClass];
    for (std::size_t i = 0; i < featureClass.size(); ++i) {
        char c = featureClass[i];
        lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view key(lower, featureClass.size());
    if (key[0] < 'a' || key[0] > 'z')
        return kDeleteType;
    const std::size_t letter = static_cast<std::size_t>(key[0] - 'a');
    for (std::size_t r = kBuckets.begin[letter]; r < kBuckets.begin[letter + 1]; ++r) {
        if (kRows[r].cls == key)
            return kRows[r].code;
    }
    return kDeleteType;
}

} // namespace gnis
