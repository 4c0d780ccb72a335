#include "platform/ini_file.h"

#include "base/file_system.h"
#include "base/utf8.h"

#include <cerrno>
#include <fstream>
#include <sstream>
#include <optional>

namespace gnis {
namespace fs = std::filesystem;

namespace {

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}


// The section a header line opens, if it is one.
std::optional<std::string> sectionOf(const std::string& line) {
    const std::string t = trim(line);
    if (t.size() < 2 || t.front() != '[')
        return std::nullopt;
    const auto close = t.find(']');
    if (close == std::string::npos)
        return std::nullopt;
    return trim(t.substr(1, close - 1));
}

bool isComment(const std::string& line) {
    const std::string t = trim(line);
    return !t.empty() && (t.front() == ';' || t.front() == '#');
}

// Key and value of a "key=value" line.
std::optional<std::pair<std::string, std::string>> entryOf(const std::string& line) {
    if (isComment(line))
        return std::nullopt;
    const auto eq = line.find('=');
    if (eq == std::string::npos)
        return std::nullopt;
    return std::pair{trim(line.substr(0, eq)), trim(line.substr(eq + 1))};
}

// A value as read: blanks around it belong to the file's layout ("key = value"),
// and one pair of double quotes around it is how a value with blanks of its own,
// or quotes at both ends, is kept.
std::string unquoted(std::string value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.substr(1, value.size() - 2);
    return value;
}

// A value as written: quoted exactly when reading it back would change it otherwise.
std::string quotedIfNeeded(const std::string& value) {
    const bool blanksAround = !value.empty() && (std::string(" \t").find(value.front()) != std::string::npos ||
                                                  std::string(" \t").find(value.back()) != std::string::npos);
    const bool quotesAround = value.size() >= 2 && value.front() == '"' && value.back() == '"';
    return blanksAround || quotesAround ? "\"" + value + "\"" : value;
}

struct Place {
    std::optional<std::size_t> header;   // line of "[section]"
    std::optional<std::size_t> entry;    // line of the key
    std::size_t end = 0;                 // one past the section's last non-blank line
};

Place find(const std::vector<std::string>& lines, const std::string& section, const std::string& key) {
    Place place;
    bool inside = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (const auto s = sectionOf(lines[i])) {
            if (inside)
                break; // only the first section of that name counts
            inside = EqualsIgnoringCase(*s, section);
            if (inside) {
                place.header = i;
                place.end = i + 1;
            }
            continue;
        }
        if (!inside)
            continue;
        if (!trim(lines[i]).empty())
            place.end = i + 1;
        if (!place.entry) {
            if (const auto e = entryOf(lines[i]); e && EqualsIgnoringCase(e->first, key))
                place.entry = i;
        }
    }
    return place;
}

} // namespace

Outcome IniFile::load(const fs::path& path) {
    lines_.clear();
    eol_.clear();
    byteOrderMark_ = false;
    // Only a plain file of a settings file's size is read: a device or a FIFO
    // put at its name would never end, or hang the program.
    constexpr std::uintmax_t kMostBytes = 1 << 20;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory)
        return Outcome::failure("Can't read " + path.string() + ": " + ec.message());
    if (!fs::exists(status))
        return Outcome::success();
    if (!fs::is_regular_file(status))
        return Outcome::failure("Can't read " + path.string() + ": it is not a plain file");
    if (fs::file_size(path, ec) > kMostBytes)
        return Outcome::failure("Can't read " + path.string() + ": it is larger than 1 MiB, more than any settings file");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return Outcome::failure("Can't read " + path.string() + ": " + ErrorText(errno));
    std::string text(kMostBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMostBytes) // it grew since
        return Outcome::failure("Can't read " + path.string() + ": it is larger than 1 MiB, more than any settings file");
    if (in.bad())
        return Outcome::failure("Can't read " + path.string());
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            if (eol_.empty())
                eol_.assign("\r\n", 2);
        } else if (eol_.empty() && !lines.eof()) {
            eol_.assign(1, '\n'); // assign, not =: GCC 12 at -O3 takes "=" for an overlapping copy
        }
        // Some editors save with a byte-order mark; it is kept, but it is no part of the first line.
        if (lines_.empty() && line.rfind("\xEF\xBB\xBF", 0) == 0) {
            byteOrderMark_ = true;
            line.erase(0, 3);
        }
        lines_.push_back(line);
    }
    return Outcome::success();
}

std::string IniFile::get(const std::string& section, const std::string& key, const std::string& fallback) const {
    const Place place = find(lines_, section, key);
    if (!place.entry)
        return fallback;
    return unquoted(entryOf(lines_[*place.entry])->second);
}

Outcome IniFile::set(const std::string& section, const std::string& key, const std::string& value) {
    if (value.find_first_of("\r\n") != std::string::npos)
        return Outcome::failure("The value of " + key + " holds a line break and can't be stored");
    if (value.find('\0') != std::string::npos)
        return Outcome::failure("The value of " + key + " holds a NUL character and can't be stored");
    if (key.empty() || key.find_first_of("=[]\r\n") != std::string::npos || trim(key) != key)
        return Outcome::failure("\"" + key + "\" can't be stored as a key");
    if (section.find_first_of("[]\r\n") != std::string::npos)
        return Outcome::failure("\"" + section + "\" can't be stored as a section");
    const std::string stored = quotedIfNeeded(value);
    const std::string line = key + "=" + stored;
    const Place place = find(lines_, section, key);
    if (place.entry) {
        // Keep the spelling the file already uses for the key.
        lines_[*place.entry] = entryOf(lines_[*place.entry])->first + "=" + stored;
    } else if (place.header) {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(place.end), line);
    } else {
        lines_.push_back("[" + section + "]");
        lines_.push_back(line);
    }
    return Outcome::success();
}

Outcome IniFile::save(const fs::path& path) const {
#if defined(_WIN32)
    const std::string eol = eol_.empty() ? "\r\n" : eol_;
#else
    const std::string eol = eol_.empty() ? "\n" : eol_;
#endif
    TextFileWriter writer;
    if (Outcome opened = writer.open(path, TextFileWriter::Durability::Synced, TextFileWriter::Access::OwnerOnly); !opened)
        return opened;
    if (byteOrderMark_)
        writer.write("\xEF\xBB\xBF");
    for (const auto& line : lines_) {
        writer.write(line);
        writer.write(eol);
    }
    return writer.commit();
}

} // namespace gnis
