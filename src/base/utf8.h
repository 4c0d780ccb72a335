#pragma once

#include <string>
#include <string_view>

namespace gnis {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

void AppendUtf8(std::string& out, char32_t codePoint);

// Equal but for the case of ASCII letters: names in headers, settings and options.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

} // namespace gnis
