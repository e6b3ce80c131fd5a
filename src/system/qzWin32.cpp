#include "qzWin32.h"

UnicodeString TqzWin32::GetWindowsDirectory() { return u"/"; }
