#include "operations/VersionText.h"

#include <tuple>

#include "support/DecimalText.h"

namespace tarnix {

namespace {

// A part that is negative or does not fit a signed 32-bit number makes the whole text invalid.
bool ReadPart(std::string_view part, uint32_t& value) {
    const std::optional<uint32_t> read = ReadNonNegativeDecimal(part);
    value = read.value_or(0);
    return read.has_value();
}

}  // namespace

std::optional<VersionTriple> ParseVersion(std::string_view text) {
    VersionTriple version;
    const size_t firstDot = text.find('.');
    if (firstDot == std::string_view::npos) return version;
    if (!ReadPart(text.substr(0, firstDot), version.major)) return std::nullopt;
    const size_t secondDot = text.find('.', firstDot + 1);
    if (secondDot == std::string_view::npos) return version;
    if (!ReadPart(text.substr(firstDot + 1, secondDot - firstDot - 1), version.minor) ||
        !ReadPart(text.substr(secondDot + 1), version.third))
        return std::nullopt;
    return version;
}

bool IsNewerVersion(std::string_view local, std::string_view service) {
    if (local.size() >= kVersionFieldSize || service.size() >= kVersionFieldSize) return false;
    const std::optional<VersionTriple> mine = ParseVersion(local), theirs = ParseVersion(service);
    if (!mine || !theirs) return false;
    return std::tie(theirs->major, theirs->minor, theirs->third) > std::tie(mine->major, mine->minor, mine->third);
}

}  // namespace tarnix
