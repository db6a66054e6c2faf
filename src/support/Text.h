// Narrow (ANSI code page) text helpers. The library's narrow and wide strings are std::string
// and std::wstring: shared by moving rather than by reference counting, which nothing outside
// the library can observe.
#pragma once

#include <cstdarg>
#include <string>

namespace tarnix {

// gcc for mingw checks formats as mingw's own printf reads them; clang (the Windows builds and
// the native checks) knows only the plain archetype.
#if defined(__MINGW32__) && !defined(__clang__)
#define TARNIX_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define TARNIX_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

// printf-style formatting into a new string.
std::string Format(const char* format, ...) TARNIX_PRINTF_FORMAT(1, 2);
std::string FormatV(const char* format, va_list args);

// A null pointer at the library's boundary reads as empty text.
inline std::string TextOrEmpty(const char* text) { return text ? std::string(text) : std::string(); }

}  // namespace tarnix
