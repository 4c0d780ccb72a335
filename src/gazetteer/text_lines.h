#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

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
// at LF, and a CR right before the LF is dropped. A text whose first block has
// CRs but no LF at all is taken as written on a classic Mac: its lines end at CR.
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

    // For a reader whose lines must outlive the next call: once every line of
    // the buffer has been handed out, the buffer goes to retire instead of being
    // reused, and the lines in it stay valid for whoever owns it then. A line
    // re-read as Windows-1252 lies outside the buffer (see inBuffer) and is valid
    // until the next call only.
    void onRetire(std::function<void(std::string&& buffer)> retire) { retire_ = std::move(retire); }
    // An emptied buffer to fill next, so retiring allocates nothing new.
    void recycle(std::string&& buffer) { spare_ = std::move(buffer); }
    // The buffer now being handed out; at the end of the text, the last one.
    std::string& buffer() { return text_; }
    bool inBuffer(std::string_view text) const {
        return text.data() >= text_.data() && text.data() + text.size() <= text_.data() + text_.size();
    }

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
    char lineEnd_ = '\n';     // '\r' for a text with CR-only line ends
    bool decided_ = false;    // the line end is chosen on the first block
    std::int64_t lineNumber_ = 0;
    std::int64_t bytesRead_ = 0;

    std::string raw_;         // bytes as read, for UTF-16 before decoding
    std::string text_;        // UTF-8 text not yet handed out
    std::size_t pos_ = 0;     // start of the next line in text_
    std::size_t scanned_ = 0; // text_ before this holds no LF after pos_
    char16_t highSurrogate_ = 0;
    std::string converted_;   // a line re-read as Windows-1252
    std::function<void(std::string&&)> retire_;
    std::string spare_;
};

// Decides on the reading thread which lines are worth handing out at all.
struct LineFilter {
    virtual ~LineFilter() = default;
    virtual bool keep(const TextLineReader::Line& line) = 0;
};

// A TextLineReader on a thread of its own, handing its lines out in batches:
// reading, inflating and decoding the text overlap the work done with its
// lines. At most sixteen batches of half a MiB are in flight, so memory stays
// fixed whatever the text's length. The source is read on that thread only.
class ReadAheadLineReader {
public:
    // filter, when given, runs on the reading thread; the lines it drops are
    // never handed out.
    explicit ReadAheadLineReader(ByteSource& source, LineFilter* filter = nullptr);
    // Stops the reading thread and waits for it.
    ~ReadAheadLineReader();
    ReadAheadLineReader(const ReadAheadLineReader&) = delete;
    ReadAheadLineReader& operator=(const ReadAheadLineReader&) = delete;

    // As TextLineReader::next; line.text stays valid until the next call.
    bool next(TextLineReader::Line& line);
    bool failed() const { return failed_; }
    // After a failure of the reading thread itself (out of memory): why; else "".
    const std::string& error() const { return error_; }
    // Bytes read from the source as far as the lines handed out so far.
    std::int64_t bytesRead() const { return bytesRead_; }

private:
    struct Entry {
        std::size_t offset, size;
        std::int64_t number;
        bool tooLong;
        bool inExtra;
    };
    // The lines of one buffer of the reader, without copying them.
    struct Batch {
        std::string text;
        std::string extra; // lines re-read as Windows-1252
        std::vector<Entry> lines;
        std::int64_t bytesRead = 0;
        bool last = false;
        bool failed = false;
    };
    static constexpr std::size_t kBatchesInFlight = 16;

    void produce(ByteSource& source, LineFilter* filter);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Batch> full_;   // read, waiting to be handed out
    std::vector<Batch> spare_; // handed out, for the reader to fill again
    bool stopping_ = false;
    bool broken_ = false;      // the reading thread gave up on an exception
    std::string error_;

    Batch current_;            // the batch being handed out, owned by the consumer
    std::size_t nextLine_ = 0;
    bool finished_ = false;
    bool failed_ = false;
    std::int64_t bytesRead_ = 0;
    std::thread thread_;       // last, so it starts once everything above exists
};

} // namespace gnis
