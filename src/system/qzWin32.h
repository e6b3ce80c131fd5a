// TqzWin32: the system folders of the platform.
//
// GetWindowsDirectory is the system's shared folder; on Linux the root folder "/" stands in for
// it (ending with exactly one separator, as the callers expect).
#pragma once

#include "Text.h"

class TqzWin32 {
 public:
  TqzWin32() = delete;

  static UnicodeString GetWindowsDirectory();
};
