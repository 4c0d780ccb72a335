#pragma once

#include "base/outcome.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace gnis {

inline constexpr std::size_t kStateCount = 57;

// The code of the entry that stands for the whole country (the national file).
inline constexpr std::string_view kNationalCode = "US";

// The states and territories whose gazetteer can be fetched, and the whole
// country, alphabetical by name; the code at index i belongs to the name at index i.
extern const std::array<std::string_view, kStateCount> stateNames;
extern const std::array<std::string_view, kStateCount> stateCodes;

// Index of a state given by code ("MA") or by name ("Massachusetts"), any case;
// -1 when there is none.
int FindState(std::string_view codeOrName);

// The states of a comma-separated list ("MA, NH,Vermont"), in the order given,
// each once; fails with "unknown state 'X'; give a code such as MA or a name
// such as Massachusetts" when one is not a state.
[[nodiscard]] Outcome FindStates(std::string_view list, std::vector<int>& indexes);

// Whether the entry stands for the whole country.
bool IsNational(int stateIndex);

// Appends the names in index order to the end of any list with push_back,
// without clearing it. Qt string lists get the names through fromUtf8.
template <typename List>
void LoadStates(List& list) {
    using Item = typename List::value_type;
    for (const std::string_view name : stateNames) {
        if constexpr (std::is_constructible_v<Item, std::string_view>)
            list.push_back(Item(name));
        else
            list.push_back(Item::fromUtf8(name.data(), static_cast<int>(name.size())));
    }
}

} // namespace gnis
