#include "operations/VersionText.h"

#include <tuple>

#include "support/DecimalText.h"

namespace tarnix {

namespace {

uint32_t ReadPart(std::string_view part) { return static_cast<uint32_t>(ReadDecimal(part)); }

}  // namespace

VersionTriple ParseVersion(std::string_view text) {
    VersionTriple version;
    const size_t firstDot = text.find('.');
    if (firstDot == std::string_view::npos) return version;
    version.major = ReadPart(text.substr(0, firstDot));
    const size_t secondDot = text.find('.', firstDot + 1);
    if (secondDot == std::string_view::npos) return version;
    version.minor = ReadPart(text.substr(firstDot + 1, secondDot - firstDot - 1));
    version.third = ReadPart(text.substr(secondDot + 1));
    return version;
}

bool IsNewerVersion(std::string_view local, std::string_view service) {
    if (local.size() >= kVersionFieldSize || service.size() >= kVersionFieldSize) return false;
    const VersionTriple mine = ParseVersion(local), theirs = ParseVersion(service);
    return std::tie(theirs.major, theirs.minor, theirs.third) > std::tie(mine.major, mine.minor, mine.third);
}

}  // namespace tarnix
