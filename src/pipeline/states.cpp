#include "states.h"

namespace gnis {

const std::array<std::string_view, kStateCount> stateNames{
    "Alabama",        "Alaska",        "Arizona",      "Arkansas",       "California",
    "Colorado",       "Connecticut",   "Delaware",     "Florida",        "Georgia",
    "Guam",           "Hawaii",        "Idaho",        "Illinois",       "Indiana",
    "Iowa",           "Kansas",        "Kentucky",     "Louisiana",      "Maine",
    "Maryland",       "Massachusetts", "Michigan",     "Minnesota",      "Mississippi",
    "Missouri",       "Montana",       "Nebraska",     "Nevada",         "New Hampshire",
    "New Jersey",     "New Mexico",    "New York",     "North Carolina", "North Dakota",
    "Ohio",           "Oklahoma",      "Oregon",       "Pennsylvania",   "Rhode Island",
    "South Carolina", "South Dakota",  "Tennessee",    "Texas",          "Utah",
    "Vermont",        "Virginia",      "Washington",   "West Virginia",  "Wisconsin",
    "Wyoming",
};

const std::array<std::string_view, kStateCount> stateCodes{
    "AL", "AK", "AZ", "AR", "CA", "CO", "CT", "DE", "FL", "GA", "GU", "HI", "ID",
    "IL", "IN", "IA", "KS", "KY", "LA", "ME", "MD", "MA", "MI", "MN", "MS", "MO",
    "MT", "NE", "NV", "NH", "NJ", "NM", "NY", "NC", "ND", "OH", "OK", "OR", "PA",
    "RI", "SC", "SD", "TN", "TX", "UT", "VT", "VA", "WA", "WV", "WI", "WY",
};

namespace {

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

} // namespace

int FindState(std::string_view codeOrName) {
    for (std::size_t i = 0; i < kStateCount; ++i) {
        if (equalsIgnoreCase(codeOrName, stateCodes[i]) || equalsIgnoreCase(codeOrName, stateNames[i]))
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace gnis
