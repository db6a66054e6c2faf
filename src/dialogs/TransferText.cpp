#include "dialogs/TransferText.h"

#include <cstdio>
#include <limits>

namespace tarnix {

namespace {

// Toward zero, and held within 32 bits: a double out of range has no defined conversion.
std::uint32_t Truncate(double value) {
    constexpr double kLargest = std::numeric_limits<std::uint32_t>::max();
    return value >= kLargest ? std::numeric_limits<std::uint32_t>::max() : static_cast<std::uint32_t>(value);
}

std::string FormatAmount(double amount, const char* unit) {
    char text[64];
    std::snprintf(text, sizeof text, "%#04.2f %s", amount, unit);
    return text;
}

}  // namespace

std::string FormatByteSize(std::uint32_t bytes) {
    return bytes >= 1000000 ? FormatAmount(bytes * 0.000001, "MB") : FormatAmount(bytes * 0.001, "KB");
}

std::string FormatTimeLeft(std::uint32_t seconds) {
    return seconds < 60 ? std::to_string(seconds) + " sec" : std::to_string(seconds / 60) + " min";
}

std::uint32_t TransferRate(std::uint32_t received, std::uint32_t startTick, std::uint32_t now) {
    if (received == 0 || now <= startTick) return kUnmeasuredRate;
    return Truncate(received * 1000.0 / (now - startTick));
}

std::string TimeLeftText(std::uint32_t total, std::uint32_t received, std::uint32_t rate) {
    if (rate == 0) return kTimeLeftUnknown;
    return FormatTimeLeft((received < total ? total - received : 0) / rate);
}

std::string ProgressText(std::uint32_t total, std::uint32_t received, std::uint32_t rate) {
    return TimeLeftText(total, received, rate) + " (" + FormatByteSize(received) + " of " + FormatByteSize(total) +
           " copied)";
}

std::string RateText(std::uint32_t rate) { return FormatByteSize(rate) + "/Sec"; }

std::uint32_t Percentage(std::uint32_t received, std::uint32_t total) {
    return total == 0 ? 0 : Truncate(received * 100.0 / total);
}

std::string CompletedTitle(std::uint32_t percentage, std::string_view source) {
    return std::to_string(percentage) + "% of " + std::string(source) + " Completed";
}

std::string FileNameAndExtension(std::string_view path) {
    size_t start = path.size() >= 2 && path[1] == ':' ? 2 : 0;
    const size_t separator = path.find_last_of("/\\");
    if (separator != std::string_view::npos && separator >= start) start = separator + 1;
    return std::string(path.substr(start));
}

}  // namespace tarnix
