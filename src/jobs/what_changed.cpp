#include "jobs/what_changed.h"

#include "base/file_system.h"
#include "formats/csv_format.h"
#include "gazetteer/gnis_records.h"
#include "gazetteer/states.h"
#include "platform/download_cache.h"

#include <QCryptographicHash>
#include <QDateTime>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

namespace gnis {
namespace fs = std::filesystem;

namespace {

constexpr char kMagic[] = "TRAILCRAFTER-GNIS-RECORD 1\n";
constexpr std::uintmax_t kMostRecordBytes = std::uintmax_t(1) << 30;
constexpr const char* kRecordSuffix = ".features";
constexpr std::size_t kMostRecords = 50; // kinds of run remembered; the ones written longest ago go

// Keeps the newest kMostRecords records of the folder.
void dropOldRecords(const fs::path& folder) {
    std::vector<std::pair<fs::file_time_type, fs::path>> records;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("changes-") && name.ends_with(kRecordSuffix) && entry.is_regular_file(ec))
            records.emplace_back(entry.last_write_time(ec), entry.path());
    }
    if (records.size() <= kMostRecords)
        return;
    std::sort(records.begin(), records.end());
    for (std::size_t i = 0; i + kMostRecords < records.size(); ++i)
        fs::remove(records[i].second, ec);
}

template <typename T>
void put(std::string& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

template <typename T>
bool take(const std::string& in, std::size_t& at, T& value) {
    if (in.size() - at < sizeof(T))
        return false;
    std::memcpy(&value, in.data() + at, sizeof(T));
    at += sizeof(T);
    return true;
}

std::string degrees(std::int64_t billionths) {
    std::string text = billionths < 0 ? "-" : "";
    const std::uint64_t magnitude = billionths < 0 ? std::uint64_t(-(billionths + 1)) + 1 : std::uint64_t(billionths);
    text += std::to_string(magnitude / 1000000000);
    std::string fraction = std::to_string(magnitude % 1000000000);
    fraction.insert(0, 9 - fraction.size(), '0');
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    if (!fraction.empty())
        (text += '.') += fraction;
    return text;
}

// Metres between two positions, near enough for "moved more than 100 m".
double metresBetween(std::int64_t lat1, std::int64_t lon1, std::int64_t lat2, std::int64_t lon2) {
    constexpr double kMetresPerDegree = 111195.0; // a degree of a great circle
    const double midLat = (double(lat1) + double(lat2)) / 2e9 * M_PI / 180.0;
    const double dLat = double(lat2 - lat1) / 1e9;
    double dLonDegrees = double(lon2 - lon1) / 1e9;
    if (dLonDegrees > 180)
        dLonDegrees -= 360;
    else if (dLonDegrees < -180)
        dLonDegrees += 360;
    const double dLon = dLonDegrees * std::cos(midLat);
    return kMetresPerDegree * std::sqrt(dLat * dLat + dLon * dLon);
}

// The kind of run a record belongs to: source and server, the states or the
// user's input, the class table's contents and the area; not the format.
std::string kindKey(const JobSettings& s) {
    std::string kind = "source=";
    kind += GnisSourceName(s.source);
    kind += "\nserver=" + s.server() + "\nstates=";
    std::vector<int> states = s.states; // MA,RI and RI,MA are one kind
    std::sort(states.begin(), states.end());
    for (const int state : states)
        (kind += std::string(stateCodes.at(static_cast<std::size_t>(state)))) += ',';
    kind += "\ninput=" + s.inputText.string() + "\narchive=" + s.inputArchive.string() + "\nclasses=";
    if (!s.classTable.empty()) {
        std::ifstream in(s.classTable, std::ios::binary);
        std::ostringstream table;
        table << in.rdbuf();
        kind += table.str();
    }
    kind += "\narea=" + s.area.text();
    return QCryptographicHash::hash(QByteArray::fromStdString(kind), QCryptographicHash::Sha256).toHex().left(32).toStdString();
}

fs::path recordFileOf(const JobSettings& settings) {
    return settings.cacheFolder / ("changes-" + kindKey(settings) + kRecordSuffix);
}

std::string dayOf(std::int64_t secondsSinceEpoch) {
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch).toString("yyyy-MM-dd").toStdString();
}

} // namespace

std::uint16_t FeatureRecord::classIndex(std::string_view featureClass) {
    if (const auto it = classIndexes_.find(featureClass); it != classIndexes_.end())
        return it->second;
    if (classes_.size() >= 65535)
        return 65534; // no real table comes near: the rest share the last
    classes_.emplace_back(featureClass);
    const auto index = static_cast<std::uint16_t>(classes_.size() - 1);
    classIndexes_.emplace(classes_.back(), index);
    return index;
}

void FeatureRecord::add(const Waypoint& w) {
    std::uint64_t id = 0;
    const auto [end, ec] = std::from_chars(w.featureId.data(), w.featureId.data() + w.featureId.size(), id);
    if (w.featureId.empty() || ec != std::errc() || end != w.featureId.data() + w.featureId.size())
        return;
    const std::string_view name = w.name.substr(0, 65535);
    if (full_ || features_.size() >= kMostFeatures || names_.size() + name.size() > kMostNameBytes) {
        // Past what any gazetteer holds: no record at all, and its memory goes now.
        full_ = true;
        std::vector<Feature>().swap(features_);
        std::string().swap(names_);
        return;
    }
    Feature f;
    f.id = id;
    f.lat = w.latValue.billionths();
    f.lon = w.lonValue.billionths();
    f.name = static_cast<std::uint32_t>(names_.size());
    f.nameLength = static_cast<std::uint16_t>(name.size());
    names_ += name;
    f.featureClass = classIndex(w.featureClass);
    features_.push_back(f);
}

void FeatureRecord::sort() {
    std::sort(features_.begin(), features_.end(), [](const Feature& a, const Feature& b) { return a.id < b.id; });
}

void FeatureRecord::serializeInto(std::int64_t madeAt, const std::function<void(std::string_view)>& write) const {
    // Handed out a megabyte at a time, so no copy of the whole record is ever held.
    std::string out = kMagic;
    put(out, madeAt);
    put(out, std::uint64_t(classes_.size()));
    for (const std::string& c : classes_) {
        put(out, std::uint16_t(c.size()));
        out += c;
    }
    put(out, std::uint64_t(features_.size()));
    for (const Feature& f : features_) {
        put(out, f.id);
        put(out, f.lat);
        put(out, f.lon);
        put(out, f.featureClass);
        put(out, f.nameLength);
        out += nameOf(f);
        if (out.size() >= (1 << 20)) {
            write(out);
            out.clear();
        }
    }
    write(out);
}

bool FeatureRecord::parse(const std::string& in, std::int64_t& madeAt) {
    *this = FeatureRecord{};
    const std::size_t magic = sizeof kMagic - 1;
    if (in.compare(0, magic, kMagic) != 0)
        return false;
    std::size_t at = magic;
    std::uint64_t classCount = 0, featureCount = 0;
    if (!take(in, at, madeAt) || !take(in, at, classCount) || classCount > 65535)
        return false;
    for (std::uint64_t i = 0; i < classCount; ++i) {
        std::uint16_t length = 0;
        if (!take(in, at, length) || in.size() - at < length)
            return false;
        classes_.emplace_back(in, at, length);
        classIndexes_.emplace(classes_.back(), static_cast<std::uint16_t>(i));
        at += length;
    }
    // Each feature takes 28 bytes at least: a count past what the file holds is a damaged file.
    if (!take(in, at, featureCount) || featureCount > (in.size() - at) / 28)
        return false;
    features_.reserve(featureCount);
    for (std::uint64_t i = 0; i < featureCount; ++i) {
        Feature f;
        if (!take(in, at, f.id) || !take(in, at, f.lat) || !take(in, at, f.lon) || !take(in, at, f.featureClass) ||
            !take(in, at, f.nameLength) || f.featureClass >= classes_.size() || in.size() - at < f.nameLength)
            return false;
        f.name = static_cast<std::uint32_t>(names_.size());
        names_.append(in, at, f.nameLength);
        at += f.nameLength;
        features_.push_back(f);
    }
    return at == in.size();
}

std::int64_t ChangeReport::total() const {
    std::int64_t n = 0;
    for (const std::int64_t c : counts)
        n += c;
    return n;
}

std::string ChangeReport::text() const {
    if (tooMany)
        return "Not compared: more than " + GroupedNumber(static_cast<std::int64_t>(FeatureRecord::kMostFeatures)) +
               " features, more than any gazetteer holds";
    if (!compared)
        return "Nothing to compare with: the first run of these states, source, class table and area";
    std::string text = "Since " + since + ": ";
    for (std::size_t k = 0; k < counts.size(); ++k) {
        if (k == std::size_t(ChangeKind::ClassChanged) && counts[k] == 0)
            break; // said only when there is one
        text += (k ? ", " : "") + GroupedNumber(counts[k]) + " " + kChangeKindNames[k];
    }
    return text;
}

ResultPoints ChangeReport::points() const {
    ResultPoints p;
    for (const char* kind : kChangeKindNames)
        p.types.push_back({"", kind, 0});
    for (const Change& c : changes) {
        p.lon.push_back(float(c.lon));
        p.lat.push_back(float(c.lat));
        p.type.push_back(static_cast<std::uint16_t>(c.kind));
        ++p.types[std::size_t(c.kind)].count;
        if (p.names.size() + c.name.size() <= ResultPoints::kMostNameBytes)
            p.names += c.name;
        p.nameEnd.push_back(static_cast<std::uint32_t>(p.names.size()));
    }
    return p;
}

void CompareWithLastRun(const JobSettings& settings, FeatureRecord& record, ChangeReport& report) {
    report = ChangeReport{};
    if (record.full()) {
        report.tooMany = true;
        return;
    }
    record.sort();
    const fs::path file = recordFileOf(settings);
    FeatureRecord before;
    std::int64_t madeAt = 0;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(file, ec);
    if (const std::uintmax_t size = fs::file_size(file, ec); fs::is_regular_file(status) && !ec && size <= kMostRecordBytes) {
        // Read in one piece, one copy: a national record is some 30 MB.
        std::string bytes(size, '\0');
        std::ifstream in(file, std::ios::binary);
        if (in.read(bytes.data(), static_cast<std::streamsize>(size)))
            report.compared = before.parse(bytes, madeAt);
    }
    if (report.compared) {
        report.since = dayOf(madeAt);
        auto note = [&report](const FeatureRecord& from, const FeatureRecord::Feature& f, ChangeKind kind,
                              std::string oldValue, std::string newValue) {
            ++report.counts[std::size_t(kind)];
            if (report.changes.size() < ChangeReport::kMostKept)
                report.changes.push_back({f.id, kind, std::move(oldValue), std::move(newValue), double(f.lat) / 1e9,
                                          double(f.lon) / 1e9, std::string(from.nameOf(f))});
        };
        const auto& a = before.features();
        const auto& b = record.features();
        std::size_t i = 0, j = 0;
        while (i < a.size() || j < b.size()) {
            if (j == b.size() || (i < a.size() && a[i].id < b[j].id)) {
                note(before, a[i], ChangeKind::Removed, std::string(before.nameOf(a[i])), "");
                ++i;
            } else if (i == a.size() || b[j].id < a[i].id) {
                note(record, b[j], ChangeKind::New, "", std::string(record.nameOf(b[j])));
                ++j;
            } else {
                const auto &was = a[i], &is = b[j];
                if (before.nameOf(was) != record.nameOf(is))
                    note(record, is, ChangeKind::Renamed, std::string(before.nameOf(was)), std::string(record.nameOf(is)));
                if (metresBetween(was.lat, was.lon, is.lat, is.lon) > 100)
                    note(record, is, ChangeKind::Moved, degrees(was.lat) + " " + degrees(was.lon),
                         degrees(is.lat) + " " + degrees(is.lon));
                if (before.classOf(was) != record.classOf(is))
                    note(record, is, ChangeKind::ClassChanged, before.classOf(was), record.classOf(is));
                ++i, ++j;
            }
        }
    }
}

Outcome KeepRunRecord(const JobSettings& settings, const FeatureRecord& record) {
    if (record.full())
        return Outcome::failure("more features than a record holds");
    DownloadCache cache(settings.cacheFolder, settings.cacheMaxBytes);
    if (Outcome ready = cache.prepare(); !ready)
        return ready;
    const fs::path file = recordFileOf(settings);
    TextFileWriter out;
    if (Outcome opened = out.open(file, TextFileWriter::Durability::Replaced, TextFileWriter::Access::OwnerOnly); !opened)
        return opened;
    record.serializeInto(QDateTime::currentSecsSinceEpoch(), [&out](std::string_view piece) { out.write(piece); });
    if (Outcome kept = out.commit(); !kept)
        return kept;
    dropOldRecords(settings.cacheFolder);
    cache.keepWithinLimit(file);
    return Outcome::success();
}

Outcome WriteChangesCsv(const fs::path& file, const ChangeReport& report) {
    if (report.tooMany)
        return Outcome::failure(report.text());
    if (static_cast<std::int64_t>(report.changes.size()) < report.total())
        return Outcome::failure("more than " + GroupedNumber(static_cast<std::int64_t>(ChangeReport::kMostKept)) +
                                " changes; compare the two files themselves");
    TextFileWriter out;
    if (Outcome opened = out.open(file, TextFileWriter::Durability::Replaced); !opened)
        return opened;
    out.write("feature_id,kind,old,new\r\n");
    std::string row;
    for (const Change& c : report.changes) {
        row = std::to_string(c.id);
        row += ',';
        row += kChangeKindNames[std::size_t(c.kind)];
        row += ',';
        AppendCsvField(row, c.oldValue);
        row += ',';
        AppendCsvField(row, c.newValue);
        row += "\r\n";
        out.write(row);
    }
    return out.commit();
}

} // namespace gnis
