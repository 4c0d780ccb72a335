#include "gazetteer/states.h"

#include "base/utf8.h"

#include <algorithm>

namespace gnis {

const std::array<std::string_view, kStateCount> stateNames{
    "Alabama", "Alaska", "American Samoa", "Arizona",
    "Arkansas", "California", "Colorado", "Connecticut",
    "Delaware", "District of Columbia", "Florida", "Georgia",
    "Guam", "Hawaii", "Idaho", "Illinois",
    "Indiana", "Iowa", "Kansas", "Kentucky",
    "Louisiana", "Maine", "Maryland", "Massachusetts",
    "Michigan", "Minnesota", "Mississippi", "Missouri",
    "Montana", "Nebraska", "Nevada", "New Hampshire",
    "New Jersey", "New Mexico", "New York", "North Carolina",
    "North Dakota", "Northern Mariana Islands", "Ohio", "Oklahoma",
    "Oregon", "Pennsylvania", "Puerto Rico", "Rhode Island",
    "South Carolina", "South Dakota", "Tennessee", "Texas",
    "United States", "Utah", "Vermont", "Virgin Islands",
    "Virginia", "Washington", "West Virginia", "Wisconsin",
    "Wyoming",
};

const std::array<std::string_view, kStateCount> stateCodes{
    "AL", "AK", "AS", "AZ", "AR", "CA", "CO", "CT", "DE", "DC", "FL", "GA", "GU",
    "HI", "ID", "IL", "IN", "IA", "KS", "KY", "LA", "ME", "MD", "MA", "MI", "MN",
    "MS", "MO", "MT", "NE", "NV", "NH", "NJ", "NM", "NY", "NC", "ND", "MP", "OH",
    "OK", "OR", "PA", "PR", "RI", "SC", "SD", "TN", "TX", "US", "UT", "VT", "VI",
    "VA", "WA", "WV", "WI", "WY",
};

bool IsNational(int stateIndex) {
    return stateIndex >= 0 && stateIndex < static_cast<int>(kStateCount) &&
           stateCodes[static_cast<std::size_t>(stateIndex)] == kNationalCode;
}

Outcome FindStates(std::string_view list, std::vector<int>& indexes) {
    indexes.clear();
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        std::string_view item = list.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        while (!item.empty() && item.front() == ' ')
            item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ')
            item.remove_suffix(1);
        const int index = FindState(item);
        if (index < 0)
            return Outcome::failure("unknown state '" + std::string(item) +
                                    "'; give a code such as MA or a name such as Massachusetts");
        if (std::find(indexes.begin(), indexes.end(), index) == indexes.end())
            indexes.push_back(index);
        if (comma == std::string_view::npos)
            return Outcome::success();
        start = comma + 1;
    }
}

int FindState(std::string_view codeOrName) {
    for (std::size_t i = 0; i < kStateCount; ++i) {
        if (EqualsIgnoringCase(codeOrName, stateCodes[i]) || EqualsIgnoringCase(codeOrName, stateNames[i]))
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace gnis
