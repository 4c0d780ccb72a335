#include "jobs/extract_gnis_zip.h"

#include "gazetteer/states.h"
#include "zip/zip_archive.h"

namespace gnis {

// Keeps the reader's first error; its status lines are not the user's business here.
struct ZipTextSource::Listener : ZipListener {
    void onError(int number, const std::string& description) override {
        (void)number;
        if (firstError.empty())
            firstError = description;
    }
    std::string firstError;
};

ZipTextSource::ZipTextSource() : listener_(std::make_unique<Listener>()) {}

ZipTextSource::~ZipTextSource() = default;

Outcome ZipTextSource::open(const std::filesystem::path& archive, const std::string& shown, int stateIndex,
                                GnisSource source) {
    reader_.reset();
    zip_ = std::make_unique<ZipExtractionClass>(*listener_);
    if (zip_->ZLibVersion().empty() || !zip_->OpenZip(archive.string()))
        return Outcome::failure(listener_->firstError);

    ZipMember exact, other;
    int others = 0;
    const bool walked = zip_->ForEachMember([&](const ZipMember& m) {
        // A symbolic link member holds a path, not the text it is named after.
        constexpr unsigned kUnix = 3;
        if ((m.header.versionMadeBy >> 8) == kUnix && ((m.header.externalAttributes >> 16) & 0170000u) == 0120000u)
            return true;
        switch (FitStateText(m.name, stateIndex, source)) {
        case MemberFit::Exact:
            exact = m;
            return false;
        case MemberFit::Other:
            if (others++ == 0)
                other = m;
            break;
        case MemberFit::None:
            break;
        }
        return true;
    });
    if (!walked)
        return Outcome::failure(listener_->firstError);
    const std::string name(stateNames[static_cast<std::size_t>(stateIndex)]);
    const bool found = !exact.name.empty() || others > 0;
    if (!found || (exact.name.empty() && others > 1 && IsNational(stateIndex))) {
        const std::string expected = LocateGazetteer(source, "", stateIndex).textName;
        return Outcome::failure("The " + shown +
                                (found ? " holds several texts and none is the gazetteer of " : " holds no gazetteer text for ") +
                                name + (expected.empty() ? "" : " (" + expected + ")"));
    }
    const ZipMember& chosen = exact.name.empty() ? other : exact;
    // The same limits as an extraction: a tiny archive must not stream a text
    // that fills the disk through the GPX.
    if (!zip_->WithinLimits(chosen.size))
        return Outcome::failure(listener_->firstError);
    memberName_ = chosen.name;
    reader_ = zip_->OpenMember(chosen);
    return reader_->status() == ZipMemberReader::Status::Ok ? Outcome::success() : Outcome::failure(reader_->error());
}

std::ptrdiff_t ZipTextSource::read(char* buffer, std::size_t size) {
    return reader_ ? reader_->read(buffer, size) : -1;
}

std::string ZipTextSource::error() const { return reader_ ? reader_->error() : listener_->firstError; }

std::uint64_t ZipTextSource::size() const { return reader_ ? reader_->size() : 0; }

} // namespace gnis
