// Standard input as bytes: Windows would otherwise turn CR LF into LF and
// stop at a Ctrl-Z byte. posix/console.cpp, win32/console.cpp.
#pragma once

namespace razivu_tool {

void binary_stdin();

}  // namespace razivu_tool
