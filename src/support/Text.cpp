#include "support/Text.h"

#include <cstdio>

namespace tarnix {

std::string FormatV(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) return std::string();
    std::string result(static_cast<size_t>(length), '\0');
    std::vsnprintf(&result[0], result.size() + 1, format, args);
    return result;
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string result = FormatV(format, args);
    va_end(args);
    return result;
}

}  // namespace tarnix
