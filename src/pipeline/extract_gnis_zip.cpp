#include "extract_gnis_zip.h"

#include "zip_extraction.h"

namespace gnis {
namespace {

// Passes the reader's events on to the reporter and keeps its first error.
class ZipToReporter : public ZipListener {
public:
    explicit ZipToReporter(StatusReporter& r) : reporter_(r) {}
    void onProgress(int percent, bool& cancel) override {
        (void)cancel;
        reporter_.progress(percent, 100);
    }
    void onStatus(const std::string& text) override { reporter_.setStatusText(text); }
    void onError(int number, const std::string& description) override {
        (void)number;
        if (firstError.empty())
            firstError = description;
    }
    void onYield() override { reporter_.yield(); }
    void onMemberProgress(std::uint64_t written, std::uint64_t size) override {
        reporter_.progress(static_cast<std::int64_t>(written), static_cast<std::int64_t>(size));
    }
    std::string firstError;

private:
    StatusReporter& reporter_;
};

} // namespace

bool ExtractGnisZip(const std::filesystem::path& archive, const std::filesystem::path& folder,
                    StatusReporter& reporter, std::string* memberError) {
    reporter.setStatusText("Extracting GNIS Zip File");
    ZipToReporter listener(reporter);
    ZipExtractionClass zip(listener);
    if (!zip.OpenZip(archive.string())) {
        reporter.setStatusBarText("GNIS ERROR: " + listener.firstError);
        return false;
    }
    if (!zip.Extract(folder.string(), true, true)) {
        reporter.setStatusBarText(listener.firstError.empty() ? std::string("ERROR: Unzipping failed")
                                                              : "GNIS ERROR: " + listener.firstError);
        return false;
    }
    zip.CloseZip();
    if (memberError)
        *memberError = listener.firstError;
    return true;
}

} // namespace gnis
