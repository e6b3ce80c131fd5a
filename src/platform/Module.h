// The files of the running code: this library's own module file (the shared library, or the
// program it is linked into) and the process's executable.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Full path of the module that holds this library's code (dladdr); empty when unknown.
std::string ThisModuleFileName();
// Full path of the running program (/proc/self/exe); empty when unknown.
std::string ProcessExecutableName();
// The arguments the process was started with, as it received them (/proc/self/cmdline; already
// split, the shell has removed any quotes); argument 0 as the program was called. Empty when
// unknown.
std::vector<std::string> ProcessArguments();

}  // namespace platform
