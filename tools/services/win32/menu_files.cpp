// Windows' shell keeps its groups to itself.
#include "services/menu_files.h"

namespace razivu_tool {

bool read_menu_group(MenuGroup &) {
    return false;
}

}  // namespace razivu_tool
