#pragma once

#include <string>
#include <utility>

namespace gnis {

// What a step or a call did: success, or a message that names the file and the
// reason. Never to be dropped unread.
class [[nodiscard]] Outcome {
public:
    static Outcome success() { return Outcome(); }
    static Outcome failure(std::string message) { return Outcome(std::move(message)); }

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return error_; }

private:
    Outcome() = default;
    explicit Outcome(std::string message) : failed_(true), error_(std::move(message)) {}
    bool failed_ = false;
    std::string error_;
};

} // namespace gnis
