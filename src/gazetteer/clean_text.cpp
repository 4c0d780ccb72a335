#include "gazetteer/clean_text.h"

#include <array>

namespace gnis {
namespace {

// Replacement for U+00C0 + i; nullptr keeps the character.
constexpr std::array<const char*, 64> kFold{
    "A", "A", "A", "A", "A", "A", "AE", "C",  // C0-C7
    "E", "E", "E", "E", "I", "I", "I", "I",   // C8-CF
    "D", "N", "O", "O", "O", "O", "O", "x",   // D0-D7
    "O", "U", "U", "U", "U", "Y", "p", "B",   // D8-DF
    "a", "a", "a", "a", "a", "a", "ae", "c",  // E0-E7
    "e", "e", "e", "e", "i", "i", "i", "i",   // E8-EF
    "o", "n", "o", "o", "o", "o", "o", nullptr, // F0-F7, the division sign stays
    "o", "u", "u", "u", "u", "y", "p", "y",   // F8-FF
};

constexpr std::array<char16_t, 32> kCp1252High{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Bytes that the copy loop must stop at: controls, the four reserved characters,
// and the lead bytes of the sequences that are folded (C3) or dropped (EF).
constexpr std::array<bool, 256> makeSpecial() {
    std::array<bool, 256> t{};
    for (int c = 0; c < 0x20; ++c)
        t[static_cast<std::size_t>(c)] = true;
    for (unsigned char c : {'&', '<', '>', '"'})
        t[c] = true;
    t[0xC3] = t[0xEF] = true;
    return t;
}
constexpr std::array<bool, 256> kSpecial = makeSpecial();

// Appends text, escaping the four reserved characters and dropping what XML 1.0
// does not allow. With fold set, U+00C0..U+00FF are folded first. A label
// (for a Polish-format map) gets no entities, and a blank for a line break.
template <bool fold, bool label = false>
void appendEscaped(std::string& out, std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        // Copy the run of characters that need nothing in one go.
        const auto* run = p;
        while (p < end && !kSpecial[*p])
            ++p;
        out.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
        if (p == end)
            break;
        const unsigned char c = *p;
        if (label && (c == '&' || c == '<' || c == '>' || c == '"' || c == '\t' || c == '\n' || c == '\r')) {
            out += c < 0x20 ? ' ' : static_cast<char>(c);
            ++p;
            continue;
        }
        switch (c) {
        case '&': out += "&amp;"; ++p; continue;
        case '<': out += "&lt;"; ++p; continue;
        case '>': out += "&gt;"; ++p; continue;
        case '"': out += "&quot;"; ++p; continue;
        case '\t': case '\n': case '\r': out += static_cast<char>(c); ++p; continue;
        default: break;
        }
        if (c < 0x20) { // forbidden control character
            ++p;
            continue;
        }
        if (c == 0xC3 && end - p >= 2 && p[1] >= 0x80 && p[1] <= 0xBF) {
            // 0xC3 0x80..0xBF is U+00C0..U+00FF.
            const char* r = fold ? kFold[static_cast<std::size_t>(p[1] - 0x80)] : nullptr;
            if (r)
                out += r;
            else
                out.append(reinterpret_cast<const char*>(p), 2);
            p += 2;
            continue;
        }
        if (c == 0xEF && end - p >= 3 && p[1] == 0xBF && (p[2] == 0xBE || p[2] == 0xBF)) {
            p += 3; // U+FFFE and U+FFFF are not XML characters
            continue;
        }
        out += static_cast<char>(c);
        ++p;
    }
}

} // namespace

void AppendCleanText(std::string& out, std::string_view text) { appendEscaped<true>(out, text); }

std::string CleanText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendCleanText(out, text);
    return out;
}

void AppendXmlEscaped(std::string& out, std::string_view text) { appendEscaped<false>(out, text); }

void AppendCleanLabel(std::string& out, std::string_view text) { appendEscaped<true, true>(out, text); }

void AppendPlainLabel(std::string& out, std::string_view text) { appendEscaped<false, true>(out, text); }

void AppendWindows1252AsUtf8(std::string& out, std::string_view bytes) {
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80)
            out += ch;
        else if (c < 0xA0)
            AppendUtf8(out, kCp1252High[c - 0x80]);
        else
            AppendUtf8(out, c);
    }
}

} // namespace gnis
