#pragma once

#include <string>

namespace quillon {

// The system's own words for an error number (errno on POSIX, GetLastError and the Internet
// layer's numbers on Windows), in UTF-8.
std::string SystemErrorText(int error);

}  // namespace quillon
