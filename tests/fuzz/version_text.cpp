// Version texts. Properties: ParseVersion agrees with a reading of its own (split at the dots,
// each part as the C library's atoi reads it); IsNewerVersion is that triple compared major
// first, never holds both ways or for equal texts, holds through a third text, and never for a
// text that does not fit its 64-byte field.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <tuple>

#include "FuzzCheck.h"
#include "Reference.h"
#include "operations/VersionText.h"

namespace {

using Triple = std::tuple<uint32_t, uint32_t, uint32_t>;

Triple ReferenceVersion(const std::string& text) {
    const size_t first = text.find('.');
    if (first == std::string::npos) return {0, 0, 0};
    const size_t second = text.find('.', first + 1);
    const auto part = [&](size_t from, size_t to) {
        return static_cast<uint32_t>(tarnix::fuzz::ReferenceAtoi(std::string_view(text).substr(from, to - from)));
    };
    if (second == std::string::npos) return {part(0, first), 0, 0};
    // The third part runs to the end; atoi stops at a further dot anyway.
    return {part(0, first), part(first + 1, second), part(second + 1, text.size())};
}

Triple Parsed(const std::string& text) {
    const tarnix::VersionTriple version = tarnix::ParseVersion(text);
    return {version.major, version.minor, version.third};
}

bool Fits(const std::string& text) { return text.size() < tarnix::kVersionFieldSize; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string a = input.ConsumeRandomLengthString(80), b = input.ConsumeRandomLengthString(80),
                      c = input.ConsumeRemainingBytesAsString();
    for (const std::string* text : {&a, &b, &c}) FUZZ_CHECK(Parsed(*text) == ReferenceVersion(*text));
    const bool ab = tarnix::IsNewerVersion(a, b), ba = tarnix::IsNewerVersion(b, a);
    FUZZ_CHECK(!(ab && ba));
    FUZZ_CHECK(!tarnix::IsNewerVersion(a, a));
    FUZZ_CHECK(ab == (Fits(a) && Fits(b) && Parsed(b) > Parsed(a)));
    if (ab && tarnix::IsNewerVersion(b, c)) FUZZ_CHECK(tarnix::IsNewerVersion(a, c));
    return 0;
}
