#pragma once

#include <string>
#include <string_view>

#include "base/utf8.h"

namespace gnis {

// Folds the accented letters U+00C0..U+00FF (but not U+00F7) to plain ASCII and
// escapes & < > " as entities. Characters that XML 1.0 forbids are dropped;
// everything else is kept. Input and output are UTF-8.
std::string CleanText(std::string_view text);
void AppendCleanText(std::string& out, std::string_view text);

// The same folding and dropping for a label of a Polish-format map: no entities,
// and a blank for a tab or line break, which would end the line.
void AppendCleanLabel(std::string& out, std::string_view text);
// The same without the folding, for formats that carry every character as the gazetteer spells it.
void AppendPlainLabel(std::string& out, std::string_view text);

// The same escaping and dropping, without the folding: for texts written as read.
void AppendXmlEscaped(std::string& out, std::string_view text);

// Reads bytes as Windows-1252; the five codes it leaves undefined become the
// C1 controls of the same value, as Windows itself maps them.
void AppendWindows1252AsUtf8(std::string& out, std::string_view bytes);

} // namespace gnis
