#pragma once

#include "base/outcome.h"

#include <filesystem>

namespace gnis {

// A scratch folder inside the output folder, where a tool writes a new
// shapefile before it takes the place of the old one. Removed with its content.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::filesystem::path& inside);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    bool ok() const { return !path_.empty(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Moves the files of the shapefile `name` (.shp, .shx, .dbf, .prj, .cpg) from
// one folder into another, replacing what is there. The .shp goes last, so an
// interrupted move never shows a new .shp with old attributes.
Outcome ReplaceShapefile(const std::filesystem::path& from, const std::filesystem::path& to, const std::string& name);

} // namespace gnis
