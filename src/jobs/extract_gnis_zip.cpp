#include "jobs/extract_gnis_zip.h"

#include "gazetteer/states.h"
#include "zip/zip_archive.h"

namespace gnis {

ZipTextSource::ZipTextSource() = default;

ZipTextSource::~ZipTextSource() = default;

Outcome ZipTextSource::open(const std::filesystem::path& archive, const std::string& shown, int stateIndex,
                                GnisSource source) {
    reader_.reset();
    zip_ = std::make_unique<ZipExtractionClass>();
    if (Outcome opened = zip_->OpenZip(archive.string()); !opened)
        return opened;

    ZipMember exact, other;
    int others = 0;
    const Outcome walked = zip_->ForEachMember([&](const ZipMember& m) {
        // A symbolic link member holds a path, not the text it is named after.
        if (m.link)
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
        return walked;
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
    if (Outcome fits = zip_->WithinLimits(chosen.size); !fits)
        return fits;
    memberName_ = chosen.name;
    reader_ = zip_->OpenMember(chosen);
    return reader_->status() == ZipMemberReader::Status::Ok ? Outcome::success() : Outcome::failure(reader_->error());
}

std::ptrdiff_t ZipTextSource::read(char* buffer, std::size_t size) {
    return reader_ ? reader_->read(buffer, size) : -1;
}

std::string ZipTextSource::error() const { return reader_ ? reader_->error() : std::string(); }

std::uint64_t ZipTextSource::size() const { return reader_ ? reader_->size() : 0; }

} // namespace gnis
