#include "states.h"

#include "utf8.h"

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

int FindState(std::string_view codeOrName) {
    for (std::size_t i = 0; i < kStateCount; ++i) {
        if (EqualsIgnoringCase(codeOrName, stateCodes[i]) || EqualsIgnoringCase(codeOrName, stateNames[i]))
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace gnis
