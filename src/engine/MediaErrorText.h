#pragma once
#include <string>

// Text of a media-library result code: "No such file or directory", "I/O error", ...,
// or "Error number %d occurred" for any other code.
std::string MediaErrorText(int code);
