// The root of the system's exceptions and the assert that aborts in debug builds.
// Thread: any; exceptions never cross a thread (workers catch and report).
#pragma once

#include <stdexcept>
#include <string>

namespace orvane {

/// Every failure of the system is an EError (or derived) carrying its user-facing message.
class EError : public std::runtime_error {
public:
    explicit EError(const std::string& message) : std::runtime_error(message) {}
};

/// A precondition a caller broke; the message names it.
class EInvalidOperation : public EError {
public:
    using EError::EError;
};

/// A file could not be opened, read or written; carries errno of the failing call.
class EFileError : public EError {
public:
    EFileError(const std::string& message, int errorCode) : EError(message), ErrorCode(errorCode) {}
    int ErrorCode;
};

/// Reports a broken invariant: aborts when ORVANE_ABORT_ON_ASSERT is defined (debug and CI
/// builds), otherwise prints it once and returns so the caller can take its safe fallback.
void AssertFailed(const char* expression, const char* file, int line);

}  // namespace orvane

/// if (!ORVANE_VERIFY(cond)) { safe fallback; }
#define ORVANE_VERIFY(cond) \
    ((cond) ? true : (::orvane::AssertFailed(#cond, __FILE__, __LINE__), false))
