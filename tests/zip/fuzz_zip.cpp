// libFuzzer target for the zip reader: any bytes as an archive, extracted into a
// scratch folder. Besides crashes and sanitizer reports it stops on a file
// written outside the target folder and on a partial file left behind.

#include "zip/zip_archive.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const fs::path& scratch() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("fuzz_zip-" + std::to_string(::getpid()));
        fs::remove_all(d);
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path archive = scratch() / "a.zip";
    const fs::path out = scratch() / "out";
    if (std::FILE* f = std::fopen(archive.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    for (const bool keepFolders : {true, false}) {
        gnis::ZipExtractionClass zip;
        gnis::ExtractOptions options;
        options.keepFolders = keepFolders;
        if (zip.OpenZip(archive.string()))
            (void)zip.Extract(out.string(), options);
    }
    // The streaming path the conversion takes: every member read to its end in memory.
    {
        gnis::ZipExtractionClass zip;
        if (zip.OpenZip(archive.string())) {
            std::vector<gnis::ZipMember> members;
            (void)zip.ForEachMember([&](const gnis::ZipMember& m) {
                members.push_back(m);
                return members.size() < 64;
            });
            char buffer[4096];
            for (const auto& m : members) {
                auto reader = zip.OpenMember(m);
                std::uint64_t total = 0;
                for (std::ptrdiff_t n; (n = reader->read(buffer, sizeof buffer)) > 0;)
                    total += static_cast<std::uint64_t>(n);
                if (total > m.size)
                    std::abort(); // more than the central directory declared
            }
        }
    }
    for (const auto& entry : fs::directory_iterator(scratch())) {
        if (entry.path() != archive && entry.path() != out)
            std::abort(); // written outside the target folder
    }
    if (fs::exists(out)) {
        // The writer's temporary names are ".NAME.tmp-N-N"; a member may well be called "x.tmp-y" itself.
        static const std::regex temporary(R"(\..+\.tmp-[0-9]+-[0-9]+)");
        for (const auto& entry : fs::recursive_directory_iterator(out)) {
            if (std::regex_match(entry.path().filename().string(), temporary))
                std::abort(); // a member left half written
        }
        fs::remove_all(out);
    }
    return 0;
}
