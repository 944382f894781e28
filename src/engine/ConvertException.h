#pragma once
// Exceptions of the transcoder. ConvertException carries a message meant for the user
// (it ends up in the engine's LastErrMsg or in a task's terminate record); EConvertError
// reports a malformed number in an option value.

#include <stdexcept>
#include <string>

class ConvertException : public std::runtime_error {
public:
    explicit ConvertException(const std::string& msg) : std::runtime_error(msg) {}
};

class EConvertError : public std::runtime_error {
public:
    explicit EConvertError(const std::string& msg) : std::runtime_error(msg) {}
};

// A broken internal rule (for example a codec tag that is not four characters long).
class EAssertionFailed : public std::logic_error {
public:
    explicit EAssertionFailed(const std::string& msg) : std::logic_error(msg) {}
};
