// What the download dialog shows of a transfer: sizes, rate, time left, percentage and the
// destination's name. Plain C++, no platform headers, so that it can be checked natively.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnix {

// The rate shown before anything can be measured, in bytes per second.
constexpr std::uint32_t kUnmeasuredRate = 3600;

// What the time left reads when the rate is 0 (a few bytes over a long time).
constexpr char kTimeLeftUnknown[] = "unknown";

// Decimal units: "0.00 KB", "3.60 KB", "1000.00 KB" (999,999 bytes), "1.50 MB".
std::string FormatByteSize(std::uint32_t bytes);

// "59 sec"; from a minute on, whole minutes: "1 min" (119 seconds).
std::string FormatTimeLeft(std::uint32_t seconds);

// Bytes per second since `startTick` (milliseconds, as the system's tick count): the unmeasured
// rate while nothing was received or no time has passed; truncated, at most the 32-bit range.
std::uint32_t TransferRate(std::uint32_t received, std::uint32_t startTick, std::uint32_t now);

// The time left at `rate`, as FormatTimeLeft shows it; unknown for a rate of 0.
std::string TimeLeftText(std::uint32_t total, std::uint32_t received, std::uint32_t rate);

// "<time left> (<received> of <total> copied)".
std::string ProgressText(std::uint32_t total, std::uint32_t received, std::uint32_t rate);

// "250.00 KB/Sec".
std::string RateText(std::uint32_t rate);

// Whole percent of the total received; 0 without a total.
std::uint32_t Percentage(std::uint32_t received, std::uint32_t total);

// The window title: "40% of <source> Completed".
std::string CompletedTitle(std::uint32_t percentage, std::string_view source);

// A path's file name with its extension: what follows its drive and its last slash or backslash.
std::string FileNameAndExtension(std::string_view path);

}  // namespace tarnix
