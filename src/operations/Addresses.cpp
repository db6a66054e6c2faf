// The address exports: URL encoding for the host and the absolute addresses of the service's
// search, login and sign-up pages. No network traffic and no initialization needed.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "frame/Library.h"
#include "operations/UrlEncode.h"
#include "support/Result.h"
#include "support/Text.h"
#include "tarnix.h"

namespace tarnix {

namespace {

std::string ServiceBaseAddress() {
    return std::string("http://") + ServiceHostName() + kGatekeeperPath;
}

// A size of 0 leaves no room even for the terminator, and a null buffer with room claimed must
// not be written through.
void CheckBuffer(const char* buffer, ULONG bufferSize) {
    ThrowHrIf(bufferSize == 0, E_INVALIDARG);
    ThrowHrIf(buffer == nullptr, E_POINTER);
}

// Writes the whole text with its terminator, or nothing at all when it does not fit; bytes
// after the terminator keep their contents.
HRESULT CopyWholeOrRefuse(const std::string& text, char* buffer, ULONG bufferSize) {
    CheckBuffer(buffer, bufferSize);
    ThrowHrIf(text.size() >= bufferSize, E_INVALIDARG);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return S_OK;
}

// Writes at most bufferSize - 1 bytes of the text and zeros over the rest of the buffer, so the
// result is always terminated; a text that does not fit is cut without notice.
HRESULT CopyCutToSize(const std::string& text, char* buffer, ULONG bufferSize) {
    CheckBuffer(buffer, bufferSize);
    size_t room = static_cast<size_t>(bufferSize) - 1;
    size_t count = std::min(text.size(), room);
    std::memcpy(buffer, text.data(), count);
    std::memset(buffer + count, 0, bufferSize - count);
    return S_OK;
}

// The search pages take the host's method argument less one.
HRESULT SearchAddress(const char* operation, const char* surname, const char* givenNames,
    const char* birthPlace, int birthYear, const char* deathPlace, int deathYear,
    const char* father, const char* mother, const char* spouse, const char* cobrand, int method,
    char* buffer, ULONG bufferSize) {
    return GuardHr([&] {
        // Widened so that the smallest int does not overflow.
        std::string address = ServiceBaseAddress() + "?op=" + operation + "&method=" +
                              std::to_string(static_cast<long long>(method) - 1) +
                              BuildSearchQuery(TextOrEmpty(surname), TextOrEmpty(givenNames),
                                  TextOrEmpty(birthPlace), birthYear, TextOrEmpty(deathPlace),
                                  deathYear, TextOrEmpty(father), TextOrEmpty(mother),
                                  TextOrEmpty(spouse), TextOrEmpty(cobrand));
        return CopyWholeOrRefuse(address, buffer, bufferSize);
    });
}

// The login and sign-up pages take the co-brand code as it is, unescaped.
HRESULT PageAddress(const char* operation, char* buffer, ULONG bufferSize, const char* cobrand) {
    return GuardHr([&] {
        std::string address =
            ServiceBaseAddress() + "?op=" + operation + "&cobrand=" + TextOrEmpty(cobrand);
        return CopyCutToSize(address, buffer, bufferSize);
    });
}

}  // namespace

}  // namespace tarnix

using namespace tarnix;

extern "C" HRESULT TARNIX_STDCALL TarnixURLEncode(
    const char* text, char* buffer, ULONG bufferSize) {
    return GuardHr([&] {
        CheckBuffer(buffer, bufferSize);
        ThrowHrIf(text == nullptr, E_POINTER);
        return CopyCutToSize(URLEncode(text), buffer, bufferSize);
    });
}

extern "C" HRESULT TARNIX_STDCALL TarnixSearchDataURL(const char* surname,
    const char* givenNames, const char* birthPlace, int birthYear, const char* deathPlace,
    int deathYear, const char* father, const char* mother, const char* spouse,
    const char* cobrand, int method, char* buffer, ULONG bufferSize) {
    return SearchAddress("datasearch", surname, givenNames, birthPlace, birthYear, deathPlace,
        deathYear, father, mother, spouse, cobrand, method, buffer, bufferSize);
}

extern "C" HRESULT TARNIX_STDCALL TarnixSearchTreeURL(const char* surname,
    const char* givenNames, const char* birthPlace, int birthYear, const char* deathPlace,
    int deathYear, const char* father, const char* mother, const char* spouse,
    const char* cobrand, int method, char* buffer, ULONG bufferSize) {
    return SearchAddress("treesearch", surname, givenNames, birthPlace, birthYear, deathPlace,
        deathYear, father, mother, spouse, cobrand, method, buffer, bufferSize);
}

extern "C" HRESULT TARNIX_STDCALL TarnixSearchBoardsURL(const char* surname,
    const char* givenNames, const char* birthPlace, int birthYear, const char* deathPlace,
    int deathYear, const char* father, const char* mother, const char* spouse,
    const char* cobrand, int method, char* buffer, ULONG bufferSize) {
    return SearchAddress("boardsearch", surname, givenNames, birthPlace, birthYear, deathPlace,
        deathYear, father, mother, spouse, cobrand, method, buffer, bufferSize);
}

extern "C" HRESULT TARNIX_STDCALL TarnixGetLoginURL(
    char* buffer, ULONG bufferSize, const char* cobrand) {
    return PageAddress("login", buffer, bufferSize, cobrand);
}

extern "C" HRESULT TARNIX_STDCALL TarnixGetSignUpURL(
    char* buffer, ULONG bufferSize, const char* cobrand) {
    return PageAddress("signup", buffer, bufferSize, cobrand);
}
