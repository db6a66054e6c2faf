// The failures the gatekeeper reports, each with the HRESULT that its error answer carries.
// The library turns an error answer's HRESULT into the status the host sees, so each kind of
// failure gets a code of its own that a host can tell apart.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tarnix::service {

namespace hr {
constexpr std::uint32_t kFail = 0x80004005;             // E_FAIL: storage or file system failure
constexpr std::uint32_t kNotImplemented = 0x80004001;   // E_NOTIMPL: unknown operation or method
constexpr std::uint32_t kInvalidArg = 0x80070057;       // E_INVALIDARG: missing or bad values, unreadable request
constexpr std::uint32_t kLogonFailure = 0x8007052E;     // ERROR_LOGON_FAILURE: wrong user name or password
constexpr std::uint32_t kLockedOut = 0x80070775;        // ERROR_ACCOUNT_LOCKED_OUT: sign-in slowed down after failures
constexpr std::uint32_t kNotSignedIn = 0x800704DC;      // ERROR_NOT_AUTHENTICATED: no ticket or an unknown one
constexpr std::uint32_t kTicketExpired = 0x80090317;    // SEC_E_CONTEXT_EXPIRED: the ticket's lifetime is over
constexpr std::uint32_t kNotFound = 0x80070490;         // ERROR_NOT_FOUND: no such site or tree, or another user's
constexpr std::uint32_t kAlreadyExists = 0x800700B7;    // ERROR_ALREADY_EXISTS: tree name taken on that site
constexpr std::uint32_t kInvalidData = 0x8007000D;      // ERROR_INVALID_DATA: an upload that is not GEDCOM
constexpr std::uint32_t kTooLarge = 0x800700DF;         // ERROR_FILE_TOO_LARGE: body above the configured limit
constexpr std::uint32_t kNoExport = 0x8007139F;         // ERROR_INVALID_STATE: download without an export
constexpr std::uint32_t kExportPending = 0x80070015;    // ERROR_NOT_READY: export still being prepared
}  // namespace hr

class ServiceError : public std::runtime_error {
public:
    ServiceError(std::uint32_t hresult, const std::string& message)
        : std::runtime_error(message), hresult_(hresult) {}
    std::uint32_t hresult() const { return hresult_; }

private:
    std::uint32_t hresult_;
};

}  // namespace tarnix::service
