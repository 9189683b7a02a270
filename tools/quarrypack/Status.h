// The packager's result type: success, or one line of text that says what
// went wrong and names the file it concerns ("stub.exe: not a PE program
// file"). main prints it after "quarrypack: ".
#pragma once

#include <string>
#include <utility>

namespace quarry::pack {

class [[nodiscard]] Status {
public:
    Status() = default;

    static Status Error(std::string message) {
        Status status;
        status.message_ = message.empty() ? std::string("failed") : std::move(message);
        return status;
    }

    // "path: reason".
    static Status FileError(const std::string& path, const std::string& reason) {
        return Error(path + ": " + reason);
    }

    bool Ok() const { return message_.empty(); }
    const std::string& Message() const { return message_; }

    // Puts the file's name in front of a reason that does not carry one yet.
    Status WithPath(const std::string& path) const {
        return Ok() ? Status() : FileError(path, message_);
    }

private:
    std::string message_;
};

}  // namespace quarry::pack

#define RETURN_IF_ERROR(expr)                       \
    do {                                            \
        ::quarry::pack::Status statusTmp_ = (expr); \
        if (!statusTmp_.Ok()) return statusTmp_;    \
    } while (0)
