#include "gazetteer/class_table.h"

#include "base/file_system.h"
#include "base/utf8.h"

#include <fstream>
#include <sstream>

namespace gnis {
namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// "0x" and one to four hexadecimal digits, as mkgmap and the GPX's type take them.
bool isMapTypeCode(std::string_view code) {
    if (code.size() < 3 || code.size() > 6 || code[0] != '0' || (code[1] != 'x' && code[1] != 'X'))
        return false;
    for (const char c : code.substr(2)) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

} // namespace

std::size_t ClassTable::NoCase::operator()(std::string_view s) const {
    std::size_t hash = 14695981039346656037ull;
    for (const char c : s)
        hash = (hash ^ static_cast<unsigned char>(lower(c))) * 1099511628211ull;
    return hash;
}

bool ClassTable::NoCase::operator()(std::string_view a, std::string_view b) const {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

namespace {

// The class a table line names, "" for a blank or comment line.
std::string_view classOfLine(std::string_view line) {
    if (const std::size_t hash = line.find('#'); hash != std::string_view::npos)
        line = line.substr(0, hash);
    line = trimmed(line);
    const std::size_t gap = line.find_last_of(" \t");
    return gap == std::string_view::npos ? std::string_view() : trimmed(line.substr(0, gap));
}

} // namespace

Outcome ClassTable::load(const std::filesystem::path& file) {
    codes_.clear();
    // A class table is a few dozen lines: a file past a megabyte is no class table.
    constexpr std::uintmax_t kMostBytes = 1 << 20;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return Outcome::failure("The class table " + file.string() + " is not a plain file");
    if (std::filesystem::file_size(file, ec) > kMostBytes)
        return Outcome::failure("The class table " + file.string() + " is larger than 1 MiB");
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in && !in.eof())
        return Outcome::failure("Can't read the class table " + file.string());
    std::istringstream lines(text.str());
    std::string line;
    decltype(codes_) codes;
    for (int number = 1; std::getline(lines, line); ++number) {
        auto fail = [&](const std::string& why) {
            return Outcome::failure("The class table " + file.string() + ", line " + std::to_string(number) + ": " + why);
        };
        if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0)
            line.erase(0, 3);
        if (!IsValidUtf8(line))
            return fail("the line is not UTF-8");
        std::string_view rest = line;
        if (const std::size_t hash = rest.find('#'); hash != std::string_view::npos)
            rest = rest.substr(0, hash);
        rest = trimmed(rest);
        if (rest.empty())
            continue;
        const std::size_t gap = rest.find_last_of(" \t");
        if (gap == std::string_view::npos)
            return fail("a feature class and a map type code (or -) are needed");
        const std::string_view cls = trimmed(rest.substr(0, gap)), code = rest.substr(gap + 1);
        if (code != "-" && !isMapTypeCode(code))
            return fail("\"" + std::string(code) + "\" is no map type code (0x and up to four hexadecimal digits) and not -");
        if (!codes.emplace(std::string(cls), code == "-" ? std::string() : std::string(code)).second)
            return fail(std::string(cls) + " is listed twice");
    }
    codes_ = std::move(codes);
    return Outcome::success();
}

MapType ClassTable::lookup(std::string_view featureClass) const {
    const auto it = codes_.find(featureClass);
    if (it == codes_.end() || it->second.empty())
        return {};
    return {it->second, NoCase{}(featureClass, "summit")};
}

Outcome SetClassInTable(const std::filesystem::path& file, std::string_view featureClass, std::string_view code) {
    const std::string_view cls = trimmed(featureClass);
    if (cls.empty() || cls.find_first_of("#\r\n") != std::string_view::npos || !IsValidUtf8(cls))
        return Outcome::failure("The class \"" + std::string(cls) + "\" cannot be a line of the table");
    if (code != "-" && !isMapTypeCode(code))
        return Outcome::failure("The code \"" + std::string(code) + "\" is no map type code (0x and up to four hexadecimal digits) and not -");
    std::error_code ec;
    std::string text;
    // Replaced whole, so a link would become a file and the edit would miss what it points at.
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(file, ec)))
        return Outcome::failure("The class table " + file.string() + " is a link; choose the file it points at on the Settings page");
    if (std::filesystem::exists(std::filesystem::symlink_status(file, ec))) {
        ClassTable current; // only a table that reads is changed
        if (Outcome loaded = current.load(file); !loaded)
            return loaded;
        std::ifstream in(file, std::ios::binary);
        std::ostringstream read;
        read << in.rdbuf();
        text = read.str();
    } else {
        text = BuiltInClassTable();
    }
    const std::string line = std::string(cls) + " " + std::string(code);
    bool changed = false;
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string_view current(text.data() + start, end - start);
        std::string_view body = current;
        while (!body.empty() && (body.back() == '\n' || body.back() == '\r'))
            body.remove_suffix(1);
        std::string_view bare = start == 0 && body.rfind("\xEF\xBB\xBF", 0) == 0 ? body.substr(3) : body;
        if (!changed && EqualsIgnoringCase(classOfLine(bare), cls)) {
            const std::size_t hash = bare.find('#');
            out += std::string(body.substr(0, body.size() - bare.size())) + line +
                   (hash == std::string_view::npos ? "" : "  " + std::string(bare.substr(hash)));
            out += current.substr(body.size()); // its own line end
            changed = true;
        } else {
            out += current;
        }
        start = end;
    }
    if (!changed) {
        if (!out.empty() && out.back() != '\n')
            out += '\n';
        out += line + "\n";
    }
    TextFileWriter writer;
    if (Outcome opened = writer.open(file); !opened)
        return opened;
    writer.write(out);
    return writer.commit();
}

std::string BuiltInClassTable() {
    std::string table = "# The feature classes that go on the map, each with its map type code; \"-\" leaves a class out.\n";
    for (const auto& [cls, code] : BuiltInMapTypes()) {
        table += cls;
        table += ' ';
        table += code;
        table += '\n';
    }
    return table;
}

} // namespace gnis
