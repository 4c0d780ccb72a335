#include "jobs/shapefile_set.h"

#include <random>
#include <system_error>

namespace gnis {
namespace fs = std::filesystem;

ScratchFolder::ScratchFolder(const fs::path& inside) {
    std::random_device rd;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const fs::path candidate = inside / (".gnis-work-" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
        if (ec)
            return;
    }
}

ScratchFolder::~ScratchFolder() {
    if (!path_.empty()) {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
}

Outcome ReplaceShapefile(const fs::path& from, const fs::path& to, const std::string& name) {
    for (const char* ext : {".shx", ".dbf", ".prj", ".cpg", ".shp"}) {
        const fs::path source = from / (name + ext);
        std::error_code ec;
        if (!fs::exists(source, ec))
            continue;
        fs::rename(source, to / (name + ext), ec);
        if (ec)
            return Outcome::failure("Can't replace " + (to / (name + ext)).string() + ": " + ec.message());
    }
    return Outcome::success();
}

} // namespace gnis
