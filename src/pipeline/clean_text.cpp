#include "clean_text.h"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
// does not allow. With fold set, U+00C0..U+00FF are folded first.
template <bool fold>
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

bool IsValidUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        // Runs of ASCII in wide steps: the common case for gazetteer text.
#if defined(__SSE2__)
        while (end - p >= 16 && _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) == 0)
            p += 16;
#endif
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ull)
                break;
            p += 8;
        }
        if (p == end)
            break;
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        std::size_t len;
        char32_t cp;
        if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1Fu; }
        else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0Fu; }
        else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07u; }
        else return false;
        if (static_cast<std::size_t>(end - p) < len)
            return false;
        for (std::size_t i = 1; i < len; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i] & 0x3Fu);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += len;
    }
    return true;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

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
