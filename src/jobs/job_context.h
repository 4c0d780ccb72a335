#pragma once

#include "gazetteer/gnis_records.h"
#include "jobs/job_settings.h"
#include "jobs/status_reporter.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace gnis {

class ScratchFolder;
class FeatureRecord;

// What the steps of one job share. Each step reads the settings, reports
// through the reporter, and leaves what the next step needs here.
class JobContext {
public:
    JobContext(const JobSettings& settings, StatusReporter& reporter);
    ~JobContext();
    JobContext(const JobContext&) = delete;
    JobContext& operator=(const JobContext&) = delete;

    const JobSettings& settings;
    StatusReporter& reporter;
    GpxStats stats;      // what the conversion wrote and left out
    bool converted = false;
    // The conversion's file, when a later step takes it on.
    std::filesystem::path waypoints;
    // The shapefile a later step loads, when it is not the folder's gnis.shp.
    std::filesystem::path shapefile;
    // After a cancel: what could not be put back as it was ("" when all was).
    std::string notUndone;
    // What the job made, the product first, and how the product came from the
    // conversion ("", "made from ", "map N \"NAME\" made from "; or "processed").
    std::vector<std::filesystem::path> made;
    std::string madeFrom;
    // Whether the conversion's counts describe the product (not after the
    // database has processed it).
    bool countsApply = true;
    // What the conversion wrote, for the comparison with the last run of its
    // kind once the whole job has succeeded; null without the download cache.
    std::unique_ptr<FeatureRecord> record;

    // A scratch folder of the job's own inside the output folder, made on first
    // use and removed with its content when the job ends; empty when it cannot be made.
    std::filesystem::path scratch();

private:
    std::unique_ptr<ScratchFolder> scratch_;
};

} // namespace gnis
