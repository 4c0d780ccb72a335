#pragma once

#include "base/outcome.h"
#include "formats/result_points.h"
#include "gazetteer/gnis_records.h"
#include "gazetteer/waypoint.h"
#include "jobs/job_settings.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace gnis {

// The features a run wrote, as compact as a comparison needs: id, position in
// billionths of a degree, name and class. Features without an id cannot be
// matched with a later run's, so they are not kept.
class FeatureRecord {
public:
    struct Feature {
        std::uint64_t id = 0;
        std::int64_t lat = 0, lon = 0;
        std::uint32_t name = 0;       // offset into names
        std::uint16_t nameLength = 0;
        std::uint16_t featureClass = 0; // index into classes
    };
    // Past these, the run is no gazetteer's: nothing more is kept and full() says so.
    static constexpr std::size_t kMostFeatures = 4000000;
    static constexpr std::size_t kMostNameBytes = std::size_t(256) << 20;
    void add(const Waypoint& waypoint);
    bool full() const { return full_; }
    std::string_view nameOf(const Feature& f) const { return std::string_view(names_).substr(f.name, f.nameLength); }
    const std::string& classOf(const Feature& f) const { return classes_[f.featureClass]; }
    // Sorted by id, for the comparison and the file.
    void sort();
    const std::vector<Feature>& features() const { return features_; }
    // The record as a file holds it, handed out a piece at a time, and back; a
    // file that does not read gives false.
    void serializeInto(std::int64_t madeAt, const std::function<void(std::string_view)>& write) const;
    bool parse(const std::string& bytes, std::int64_t& madeAt);

private:
    std::uint16_t classIndex(std::string_view featureClass);
    std::vector<Feature> features_;
    std::string names_;
    std::vector<std::string> classes_;
    // Each class's index, found in one lookup per feature (the converter's hot path).
    std::unordered_map<std::string, std::uint16_t, GpxStats::TransparentHash, std::equal_to<>> classIndexes_;
    bool full_ = false;
};

// Hands each waypoint to a format's writer and keeps it in a record: every
// format's run is recorded alike.
class RecordingWriter : public WaypointWriter {
public:
    RecordingWriter(WaypointWriter& inner, FeatureRecord& record) : inner_(inner), record_(record) {}
    std::string head() const override { return inner_.head(); }
    void write(const Waypoint& waypoint, std::string& out, GpxStats& stats) override {
        record_.add(waypoint);
        inner_.write(waypoint, out, stats);
    }
    std::string tail() const override { return inner_.tail(); }

private:
    WaypointWriter& inner_;
    FeatureRecord& record_;
};

enum class ChangeKind { New, Removed, Renamed, Moved, ClassChanged };
inline constexpr std::array<const char*, 5> kChangeKindNames = {"new", "removed", "renamed", "moved", "class changed"};

struct Change {
    std::uint64_t id = 0;
    ChangeKind kind = ChangeKind::New;
    std::string oldValue, newValue; // names, classes, or positions as "lat lon"
    double lat = 0, lon = 0;        // where it is now (or was, when removed)
    std::string name;
};

// What changed since the last run of the same kind: the same states (or
// input), source, class table and area, whatever the format.
struct ChangeReport {
    bool compared = false;  // false: the first run of its kind, nothing to compare with
    bool tooMany = false;   // the run wrote more than a record holds, so nothing was compared
    std::string since;      // the day of the run compared with, "2026-10-01"
    std::array<std::int64_t, 5> counts{}; // by ChangeKind
    std::vector<Change> changes;          // the first kMostKept, in id order
    static constexpr std::size_t kMostKept = 2000000;
    std::int64_t total() const;
    // "Since 2026-10-01: 37 new, 5 removed, 12 renamed, 3 moved, 0 class changed",
    // or that there is nothing to compare with.
    std::string text() const;
    // The changed features as the result window's map draws them, coloured by kind.
    ResultPoints points() const;
};

// Compares the run's record with the one the last run of its kind kept in the
// cache folder. A record that does not read is taken for none.
void CompareWithLastRun(const JobSettings& settings, FeatureRecord& record, ChangeReport& report);

// Keeps the run's record in the old one's place (0600, in one rename), for
// the next run of its kind; within the cache's size limit.
[[nodiscard]] Outcome KeepRunRecord(const JobSettings& settings, const FeatureRecord& record);

// The changes as CSV, one row each: feature_id,kind,old,new. The file is
// replaced whole (a link at its name is replaced, never written through).
[[nodiscard]] Outcome WriteChangesCsv(const std::filesystem::path& file, const ChangeReport& report);

} // namespace gnis
