// The registry on Linux: HKEY_LOCAL_MACHINE\A\B is the folder
// <prefix>/registry/HKEY_LOCAL_MACHINE/A/B.
#pragma once

namespace razivu::standins {

// True when every backslash-separated part of subkey names a folder (in any
// case, as registry names are case-blind) below HKEY_LOCAL_MACHINE's folder
// and the last one can be read.
bool registry_key_exists(const char *subkey);

}  // namespace razivu::standins
