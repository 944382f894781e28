#pragma once
// printf-style formatting into a std::string, of any length.

#include <cstdarg>
#include <string>

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);
