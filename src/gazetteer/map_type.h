#pragma once

#include <string_view>
#include <utility>
#include <vector>

namespace gnis {

inline constexpr std::string_view kDeleteType = "delete";

// Map type code ("0x6616") for a GNIS feature class, compared case-insensitively
// and otherwise exactly; "delete" for a class that does not go on the map.
std::string_view GetMapType(std::string_view featureClass);

// The same look-up for the conversion loop: an empty code for a class that does
// not go on the map, and whether the class is "summit".
struct MapType {
    std::string_view code;
    bool summit = false;
};
MapType LookupMapType(std::string_view featureClass);

// The built-in table's rows, class and code, in its order.
std::vector<std::pair<std::string_view, std::string_view>> BuiltInMapTypes();

} // namespace gnis
