// Narrow (ANSI code page) text helpers. The library's narrow and wide strings are std::string
// and std::wstring: shared by moving rather than by reference counting, which nothing outside
// the library can observe.
#pragma once

#include <cstdarg>
#include <string>

namespace tarnix {

// printf-style formatting into a new string.
std::string Format(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

// A null pointer at the library's boundary reads as empty text.
inline std::string TextOrEmpty(const char* text) { return text ? std::string(text) : std::string(); }

}  // namespace tarnix
