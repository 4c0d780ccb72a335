#pragma once

#include "base/outcome.h"
#include "gazetteer/gnis_source.h"
#include "gazetteer/text_lines.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace gnis {

class ZipExtractionClass;
class ZipMemberReader;

// A state's gazetteer text read straight out of its archive, inflated and
// checked as it is read. Nothing of the archive is written to disk, so the
// metadata and pictures beside the text are never unpacked.
class ZipTextSource : public ByteSource {
public:
    ZipTextSource();
    ~ZipTextSource() override;

    // Opens the archive and finds the state's text in any of its folders, by
    // file name in any case (the source's own name first). shown names the
    // archive in messages ("archive FILE").
    [[nodiscard]] Outcome open(const std::filesystem::path& archive, const std::string& shown, int stateIndex, GnisSource source);
    std::ptrdiff_t read(char* buffer, std::size_t size) override;
    // After read() returned -1: why.
    std::string error() const;
    std::uint64_t size() const;
    const std::string& memberName() const { return memberName_; }

private:
    std::unique_ptr<ZipExtractionClass> zip_;
    std::unique_ptr<ZipMemberReader> reader_;
    std::string memberName_;
};

} // namespace gnis
