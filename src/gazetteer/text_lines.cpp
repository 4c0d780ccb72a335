#include "gazetteer/text_lines.h"

#include "gazetteer/clean_text.h"

#include <chrono>
#include <cstring>

namespace gnis {

TextLineReader::TextLineReader(ByteSource& source) : source_(source) {
    raw_.reserve(kBlockSize + 2);
    text_.reserve(2 * kBlockSize);
}

// Appends up to a block from the source to buf.
bool TextLineReader::readInto(std::string& buf) {
    const std::size_t old = buf.size();
    buf.resize(old + kBlockSize);
    const std::ptrdiff_t n = source_.read(buf.data() + old, kBlockSize);
    if (n < 0) {
        failed_ = true;
        eof_ = true;
        buf.resize(old);
        return false;
    }
    buf.resize(old + static_cast<std::size_t>(n));
    bytesRead_ += n;
    if (n == 0)
        eof_ = true;
    return n > 0;
}

void TextLineReader::decodeUtf16(bool flush) {
    const bool le = encoding_ == TextEncoding::Utf16LE;
    std::size_t i = 0;
    for (; i + 1 < raw_.size(); i += 2) {
        const auto b0 = static_cast<unsigned char>(raw_[i]);
        const auto b1 = static_cast<unsigned char>(raw_[i + 1]);
        const auto unit = static_cast<char16_t>(le ? (b0 | (b1 << 8)) : ((b0 << 8) | b1));
        if (unit < 0x80 && !highSurrogate_) {
            text_ += static_cast<char>(unit);
            continue;
        }
        if (highSurrogate_) {
            const char16_t high = highSurrogate_;
            highSurrogate_ = 0;
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                AppendUtf8(text_, 0x10000 + ((static_cast<char32_t>(high) - 0xD800) << 10) + (unit - 0xDC00));
                continue;
            }
            AppendUtf8(text_, 0xFFFD); // unpaired high surrogate
        }
        if (unit >= 0xD800 && unit <= 0xDBFF)
            highSurrogate_ = unit;
        else if (unit >= 0xDC00 && unit <= 0xDFFF)
            AppendUtf8(text_, 0xFFFD);
        else
            AppendUtf8(text_, unit);
    }
    raw_.erase(0, i);
    if (flush) {
        if (highSurrogate_ || !raw_.empty())
            AppendUtf8(text_, 0xFFFD); // a cut-off character at the very end
        highSurrogate_ = 0;
        raw_.clear();
    }
}

// Appends more text; false when nothing more can come.
bool TextLineReader::fill() {
    if (eof_)
        return false;
    // Drop what was handed out, so the buffer holds at most one line plus a block.
    if (pos_ > 0 && retire_) {
        std::string next = std::move(spare_);
        spare_ = std::string();
        next.reserve(2 * kBlockSize);
        next.assign(text_, pos_);
        std::swap(next, text_);
        scanned_ -= pos_;
        pos_ = 0;
        retire_(std::move(next));
    } else if (pos_ > 0) {
        text_.erase(0, pos_);
        scanned_ -= pos_;
        pos_ = 0;
    }
    if (!started_) {
        started_ = true;
        // Enough bytes to tell the byte-order mark.
        while (!eof_ && raw_.size() < 3)
            readInto(raw_);
        const auto b = [&](std::size_t i) { return i < raw_.size() ? static_cast<unsigned char>(raw_[i]) : 0u; };
        if (b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) {
            encoding_ = TextEncoding::Utf8Bom;
            raw_.erase(0, 3);
        } else if (b(0) == 0xFF && b(1) == 0xFE) {
            encoding_ = TextEncoding::Utf16LE;
            raw_.erase(0, 2);
        } else if (b(0) == 0xFE && b(1) == 0xFF) {
            encoding_ = TextEncoding::Utf16BE;
            raw_.erase(0, 2);
        }
    } else if (utf16()) {
        readInto(raw_);
    } else {
        readInto(text_); // 8-bit text needs no decoding: straight into the line buffer
    }
    if (utf16()) {
        decodeUtf16(eof_);
    } else {
        text_ += raw_;
        raw_.clear();
    }
    return true;
}

std::string_view TextLineReader::finishLine(std::string_view raw) {
    if (lineEnd_ == '\n' && !raw.empty() && raw.back() == '\r')
        raw.remove_suffix(1);
    if (utf16() || IsValidUtf8(raw))
        return raw;
    converted_.clear();
    AppendWindows1252AsUtf8(converted_, raw);
    return converted_;
}

bool TextLineReader::next(Line& line) {
    if (!decided_) {
        // Enough text to tell: an LF, a full block, or all there is.
        while (text_.find('\n') == std::string::npos && text_.size() < kBlockSize && fill()) {
        }
        decided_ = true;
        if (text_.find('\n') == std::string::npos && text_.find('\r') != std::string::npos)
            lineEnd_ = '\r';
    }
    for (;;) {
        const char* base = text_.data();
        const void* lf = scanned_ < text_.size()
                             ? std::memchr(base + scanned_, lineEnd_, text_.size() - scanned_)
                             : nullptr;
        if (lf) {
            const auto end = static_cast<std::size_t>(static_cast<const char*>(lf) - base);
            const std::size_t start = pos_;
            pos_ = scanned_ = end + 1;
            ++lineNumber_;
            line.number = lineNumber_;
            if (skipping_) {
                skipping_ = false;
                line.tooLong = true;
                line.text = {};
                return true;
            }
            if (end - start > kMaxLineLength) {
                line.tooLong = true;
                line.text = {};
                return true;
            }
            line.tooLong = false;
            line.text = finishLine(std::string_view(base + start, end - start));
            return true;
        }
        scanned_ = text_.size();
        if (scanned_ - pos_ > kMaxLineLength) {
            // Keep memory bounded: forget the line so far, report it once it ends.
            skipping_ = true;
            pos_ = scanned_;
        }
        if (!fill()) {
            if (pos_ >= text_.size() && !skipping_)
                return false;
            // The last line has no line end.
            const std::size_t start = pos_;
            pos_ = scanned_ = text_.size();
            ++lineNumber_;
            line.number = lineNumber_;
            line.tooLong = skipping_;
            skipping_ = false;
            line.text = line.tooLong ? std::string_view{}
                                     : finishLine(std::string_view(text_.data() + start, text_.size() - start));
            return true;
        }
    }
}

ReadAheadLineReader::ReadAheadLineReader(ByteSource& source, LineFilter* filter)
    : thread_([this, &source, filter] { produce(source, filter); }) {}

ReadAheadLineReader::~ReadAheadLineReader() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ReadAheadLineReader::produce(ByteSource& source, LineFilter* filter) {
    try {
        Batch batch;
        TextLineReader reader(source);
        // Hands the batch over and starts an empty one; false when the consumer is gone.
        auto handOver = [&]() {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || full_.size() < kBatchesInFlight; });
            if (stopping_)
                return false;
            full_.push_back(std::move(batch));
            batch = Batch{};
            if (!spare_.empty()) {
                batch = std::move(spare_.back());
                spare_.pop_back();
                batch.extra.clear();
                batch.lines.clear();
            }
            lock.unlock();
            changed_.notify_all();
            return true;
        };
        bool gone = false;
        // A full buffer becomes the batch's text, and the batch's old text the next buffer.
        reader.onRetire([&](std::string&& full) {
            std::string emptied = std::move(batch.text);
            batch.text = std::move(full);
            batch.bytesRead = reader.bytesRead();
            gone = gone || !handOver();
            emptied.clear();
            reader.recycle(std::move(emptied));
        });
        TextLineReader::Line line;
        while (!gone && reader.next(line)) {
            if (filter && !filter->keep(line))
                continue;
            if (reader.inBuffer(line.text)) {
                batch.lines.push_back({static_cast<std::size_t>(line.text.data() - reader.buffer().data()),
                                       line.text.size(), line.number, line.tooLong, false});
            } else {
                batch.lines.push_back({batch.extra.size(), line.text.size(), line.number, line.tooLong, true});
                batch.extra.append(line.text);
            }
        }
        if (gone)
            return;
        batch.text = std::move(reader.buffer());
        batch.bytesRead = reader.bytesRead();
        batch.failed = reader.failed();
        batch.last = true;
        handOver();
    } catch (...) { // out of memory: the text cannot be read to its end
        {
            const std::lock_guard lock(mutex_);
            broken_ = true;
        }
        changed_.notify_all();
    }
}

bool ReadAheadLineReader::next(TextLineReader::Line& line) {
    while (nextLine_ >= current_.lines.size()) {
        if (finished_)
            return false;
        std::unique_lock lock(mutex_);
        if (current_.text.capacity() > 0)
            spare_.push_back(std::move(current_));
        current_ = Batch{};
        nextLine_ = 0;
        const auto ready = [&] { return !full_.empty() || broken_; };
        changed_.wait(lock, ready);
        if (full_.empty()) { // broken: what came before was handed out, the rest is lost
            finished_ = failed_ = true;
            error_ = "out of memory while reading the text";
            return false;
        }
        current_ = std::move(full_.front());
        full_.pop_front();
        lock.unlock();
        changed_.notify_all();
        nextLine_ = 0;
        bytesRead_ = current_.bytesRead;
        finished_ = current_.last;
        failed_ = current_.failed;
    }
    const Entry& e = current_.lines[nextLine_++];
    line.text = std::string_view(e.inExtra ? current_.extra : current_.text).substr(e.offset, e.size);
    line.number = e.number;
    line.tooLong = e.tooLong;
    return true;
}

} // namespace gnis
