// The product's group on Linux: the stand-in's directory entry and the
// launchers named after the group, in the user's XDG data folder.
#include "services/menu_files.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace razivu_tool {
namespace {

constexpr const char *group_files = "razivu-kov";
constexpr const char *launcher_suffix = ".desktop";
// Launchers are a few lines; a longer line is not one of ours and is skipped.
constexpr int line_cap = 4096;
// The most launchers listed.
constexpr std::size_t max_items = 1000;

std::string data_home() {
    const char *xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    const char *home = std::getenv("HOME");
    return home != nullptr && home[0] == '/' ? std::string(home) + "/.local/share" : std::string();
}

bool is_regular(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The Name and Exec keys of a launcher's main group.
MenuItem read_launcher(const std::string &path) {
    MenuItem item{{}, {}, path};
    std::FILE *f = std::fopen(path.c_str(), "re");
    if (f == nullptr) {
        return item;
    }
    char line[line_cap];
    bool main_group = false;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        line[std::strcspn(line, "\r\n")] = '\0';
        if (line[0] == '[') {
            main_group = std::strcmp(line, "[Desktop Entry]") == 0;
        } else if (main_group && std::strncmp(line, "Name=", 5) == 0 && item.name.empty()) {
            item.name = line + 5;
        } else if (main_group && std::strncmp(line, "Exec=", 5) == 0 && item.command.empty()) {
            item.command = line + 5;
        }
    }
    std::fclose(f);
    return item;
}

}  // namespace

bool read_menu_group(MenuGroup &out) {
    const std::string data = data_home();
    if (data.empty()) {
        return true;  // no folder, no group
    }
    out.exists = is_regular(data + "/desktop-directories/" + group_files + ".directory");
    const std::string folder = data + "/applications";
    DIR *dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return true;
    }
    const std::string prefix = std::string(group_files) + "-";
    while (const dirent *e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name.starts_with(prefix) && name.ends_with(launcher_suffix) && out.items.size() < max_items &&
            is_regular(folder + "/" + name)) {
            out.items.push_back(read_launcher(folder + "/" + name));
        }
    }
    ::closedir(dir);
    std::sort(out.items.begin(), out.items.end(),
              [](const MenuItem &a, const MenuItem &b) { return a.name < b.name; });
    return true;
}

}  // namespace razivu_tool
