// The files of the running code: this library's own module file (the shared library, or the
// program it is linked into) and the process's executable.
#pragma once

#include <string>

namespace platform {

// Full path of the module that holds this library's code (dladdr); empty when unknown.
std::string ThisModuleFileName();
// Full path of the running program (/proc/self/exe); empty when unknown.
std::string ProcessExecutableName();

}  // namespace platform
