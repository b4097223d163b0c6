// The operator's text for a Windows error code, with the code: "acces refuzat
// (cod 5)" (SystemReason). Never empty.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>
#include <system_error>

#include "os/os.h"

namespace ovix {

inline std::string SystemText(DWORD code) {
  return SystemReason(std::error_code(static_cast<int>(code), std::system_category()));
}

}  // namespace ovix
