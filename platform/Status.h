#pragma once
// What an operation came to: done, or not, and why in words a user can read.

#include <string>
#include <utility>

namespace zorvik::platform {

class Status {
  public:
    enum class Kind {
        kDone,
        kBadArgument,  // the call asked for something impossible; nothing changed
        kFailed,       // the system could not do it
    };

    Status() = default;
    static Status Done() { return {}; }
    static Status BadArgument(std::string reason) { return Status(Kind::kBadArgument, std::move(reason)); }
    static Status Failed(std::string reason) { return Status(Kind::kFailed, std::move(reason)); }

    bool Ok() const { return kind_ == Kind::kDone; }
    explicit operator bool() const { return Ok(); }
    Kind GetKind() const { return kind_; }
    // Empty when done.
    const std::string& Reason() const { return reason_; }

  private:
    Status(Kind kind, std::string reason) : kind_(kind), reason_(std::move(reason)) {}

    Kind kind_ = Kind::kDone;
    std::string reason_;
};

}  // namespace zorvik::platform
