#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace gnis {

// Where the bytes of a text come from; read() returns the count read, 0 at the
// end, -1 on a read error.
struct ByteSource {
    virtual ~ByteSource() = default;
    virtual std::ptrdiff_t read(char* buffer, std::size_t size) = 0;
};

enum class TextEncoding { Unmarked, Utf8Bom, Utf16LE, Utf16BE };

// Streams a text file line by line as UTF-8, in fixed memory.
// A byte-order mark picks UTF-8, UTF-16LE or UTF-16BE; without one, each line
// is UTF-8 where it is valid UTF-8 and Windows-1252 where it is not. A line ends
// at LF, and a CR right before the LF is dropped.
class TextLineReader {
public:
    static constexpr std::size_t kBlockSize = 256 * 1024;
    // Longer lines are not kept: they come back with tooLong set and no text.
    static constexpr std::size_t kMaxLineLength = 1024 * 1024;

    struct Line {
        std::string_view text;
        std::int64_t number = 0; // 1-based
        bool tooLong = false;
    };

    explicit TextLineReader(ByteSource& source);

    // False at the end of the text or after a read error (see failed()).
    bool next(Line& line);
    bool failed() const { return failed_; }
    std::int64_t bytesRead() const { return bytesRead_; }

private:
    bool fill();
    bool readInto(std::string& buffer);
    bool utf16() const { return encoding_ == TextEncoding::Utf16LE || encoding_ == TextEncoding::Utf16BE; }
    void decodeUtf16(bool flush);
    std::string_view finishLine(std::string_view raw);

    ByteSource& source_;
    TextEncoding encoding_ = TextEncoding::Unmarked;
    bool started_ = false;
    bool eof_ = false;
    bool failed_ = false;
    bool skipping_ = false;   // inside a line that grew too long
    std::int64_t lineNumber_ = 0;
    std::int64_t bytesRead_ = 0;

    std::string raw_;         // bytes as read, for UTF-16 before decoding
    std::string text_;        // UTF-8 text not yet handed out
    std::size_t pos_ = 0;     // start of the next line in text_
    std::size_t scanned_ = 0; // text_ before this holds no LF after pos_
    char16_t highSurrogate_ = 0;
    std::string converted_;   // a line re-read as Windows-1252
};

} // namespace gnis
