#pragma once

#include <string>
#include <string_view>

namespace gnis {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

void AppendUtf8(std::string& out, char32_t codePoint);

} // namespace gnis
