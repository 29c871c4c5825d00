// The Program Manager stand-in's interpreter: carries out CreateGroup,
// ShowGroup, AddItem, ReplaceItem, DeleteItem and DeleteGroup as the files
// `xdg-desktop-menu install --mode user` would lay out for them.
//
// Group G is desktop-directories/razivu-<id of G>.directory below the data
// folder and menus/applications-merged/razivu-<id of G>.menu below the
// config folder; item I of G is applications/razivu-<id of G>-<id of I>.desktop.
// Ids hold no '-', so a file name tells its group and item apart.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <strings.h>

#include "platform/threads.h"
#include "standins/files.h"
#include "standins/paths.h"
#include "standins/progman.h"
#include "standins/text.h"

namespace razivu::standins::progman {
namespace {

constexpr const char *vendor = "razivu-";
// Permissions of launchers and menus: the user's own files, readable by all.
constexpr mode_t file_mode = 0644;
// XDG base folders that are missing are made for the user alone.
constexpr mode_t dir_mode = 0700;
// A merged menu larger than this is no menu of ours; it is left alone.
constexpr std::size_t menu_file_cap = 1024 * 1024;
// AddItem's optional number fields: icon index, x, y, hot key, minimize.
constexpr std::size_t add_item_numbers[] = {3, 4, 5, 7, 8};

// Process-wide, like the shell's own state behind the service. The lock is
// held only while the id is read or changed: commands of several threads run
// side by side, as the shell serves several clients.
struct Shell {
    platform::Lock lock;
    std::string current;  // id of the group items are added to; empty: none yet
};
Shell shell;

std::string current_group() {
    platform::Locked held(shell.lock);
    return shell.current;
}

void set_current_group(const std::string &id) {
    platform::Locked held(shell.lock);
    shell.current = id;
}

bool write_file(const std::string &path, std::string_view text) {
    return replace_file(path, text, file_mode, dir_mode);
}

// Where one group's files go.
struct Group {
    std::string id;
    std::string directory_file;  // its name, as the menu names it
    std::string directory_path;
    std::string menu_name;
    std::string menu_path;
    std::string applications;  // the folder of the launchers
};

bool group_of(const std::string &id, Group &out) {
    const std::string data = data_home();
    const std::string config = config_home();
    if (id.empty() || data.empty() || config.empty()) {
        return false;
    }
    out.id = id;
    out.menu_name = vendor + id;
    out.directory_file = out.menu_name + ".directory";
    out.directory_path = data + "/desktop-directories/" + out.directory_file;
    out.menu_path = config + "/menus/applications-merged/" + out.menu_name + ".menu";
    out.applications = data + "/applications";
    return true;
}

std::string launcher_file(const Group &g, const std::string &item_id) {
    return g.menu_name + "-" + item_id + ".desktop";
}

std::string id_of(const std::string &name) {
    return make_id(utf8_from_ansi(name));
}

bool is_number(const std::string &text) {
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && errno == 0 && v >= INT_MIN && v <= INT_MAX;
}

// Applies edit to the group's merged menu, made afresh when it is missing,
// and writes it back, under a lock that concurrent editors of the group take
// in turn. An unreadable or foreign file is left as it is.
template <typename Edit>
bool edit_menu(const Group &g, Edit edit) {
    if (!make_dirs(g.menu_path.substr(0, g.menu_path.rfind('/')), dir_mode)) {
        return false;
    }
    const FileLock lock(g.menu_path);
    std::string xml;
    const ReadResult read = lock.held() ? read_file(g.menu_path, menu_file_cap, xml) : ReadResult::failed;
    if (read == ReadResult::failed) {
        return false;
    }
    if (read == ReadResult::missing) {
        xml = new_menu(g.menu_name, g.directory_file);
    }
    const std::string before = xml;
    if (!edit(xml)) {
        return false;
    }
    return (read == ReadResult::ok && xml == before) || write_file(g.menu_path, xml);
}

bool create_group(const std::vector<std::string> &args) {
    Group g;
    if (!group_of(id_of(args[0]), g)) {
        return false;
    }
    if (!is_regular_file(g.directory_path) &&
        !write_file(g.directory_path, directory_entry(args[0]))) {
        return false;
    }
    if (!edit_menu(g, [&](std::string &xml) {
            return menu_include(xml, g.menu_name, g.directory_file, {});
        })) {
        return false;
    }
    set_current_group(g.id);
    return true;
}

bool show_group(const std::vector<std::string> &args) {
    Group g;
    if (!is_number(args[1]) || !group_of(id_of(args[0]), g) || !is_regular_file(g.directory_path)) {
        return false;
    }
    set_current_group(g.id);
    return true;
}

bool add_item(const std::vector<std::string> &args) {
    Group g;
    if (!group_of(current_group(), g) || !is_regular_file(g.directory_path)) {
        return false;
    }
    for (std::size_t i : add_item_numbers) {
        if (i < args.size() && !args[i].empty() && !is_number(args[i])) {
            return false;
        }
    }
    const auto arg = [&](std::size_t i) { return i < args.size() ? args[i] : std::string(); };
    Launcher item{arg(1), args[0], arg(2), arg(6)};
    if (item.name.empty()) {
        item.name = default_item_name(item.command_line);
    }
    // A relative working folder would be taken from wherever the desktop
    // starts the program.
    if (item.name.empty() || exec_line(item.command_line).empty() ||
        (!item.work_dir.empty() && host_path(item.work_dir.c_str()).front() != '/')) {
        return false;
    }
    const std::string file = launcher_file(g, id_of(item.name));
    const std::string path = g.applications + "/" + file;
    if (!write_file(path, desktop_entry(item))) {
        return false;
    }
    if (!edit_menu(g, [&](std::string &xml) {
            return menu_include(xml, g.menu_name, g.directory_file, file);
        })) {
        remove_file(path);
        return false;
    }
    return true;
}

// A launcher of the group by the name this shell gives it: the group's
// prefix, an item id and ".desktop", and so nothing that reaches another
// folder.
bool launcher_name(const Group &g, std::string_view file) {
    constexpr std::string_view suffix = ".desktop";
    const std::string prefix = g.menu_name + "-";
    if (!file.starts_with(prefix) || !file.ends_with(suffix) ||
        file.size() == prefix.size() + suffix.size()) {
        return false;
    }
    const std::string_view id = file.substr(prefix.size(), file.size() - prefix.size() - suffix.size());
    return id.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_.") == std::string_view::npos;
}

// Takes one launcher out of the menu and off the disk: only a regular file
// in the launchers' folder itself, never through a link to another folder.
bool drop_launcher(const Group &g, const std::string &file) {
    const std::string path = g.applications + "/" + file;
    return edit_menu(g, [&](std::string &xml) { return menu_exclude(xml, g.menu_name, file); }) &&
           (!is_own_dir(g.applications) || !is_own_regular_file(path) || remove_file(path));
}

// True when the group's menu includes file.
bool listed(const Group &g, const std::string &file) {
    std::string xml;
    if (read_file(g.menu_path, menu_file_cap, xml) != ReadResult::ok) {
        return false;
    }
    const auto files = menu_files(xml, g.menu_name);
    return files && std::find(files->begin(), files->end(), file) != files->end();
}

// ReplaceItem and DeleteItem alike: the next AddItem takes the place.
bool delete_item(const std::vector<std::string> &args) {
    Group g;
    if (!group_of(current_group(), g)) {
        return false;
    }
    const std::string file = launcher_file(g, id_of(args[0]));
    if (!is_regular_file(g.applications + "/" + file) && !listed(g, file)) {
        return false;
    }
    return drop_launcher(g, file);
}

// Our launchers of the group go; entries of other programs stay, and with
// them the submenu and its directory entry that show them.
bool delete_group(const std::vector<std::string> &args) {
    Group g;
    if (!group_of(id_of(args[0]), g) ||
        (!is_regular_file(g.directory_path) && !is_regular_file(g.menu_path))) {
        return false;
    }
    std::vector<std::string> files = list_files(g.applications, g.menu_name + "-", ".desktop");
    std::string xml;
    const auto in_menu = (read_file(g.menu_path, menu_file_cap, xml) == ReadResult::ok
                              ? menu_files(xml, g.menu_name)
                              : std::nullopt)
                             .value_or(std::vector<std::string>{});
    files.insert(files.end(), in_menu.begin(), in_menu.end());
    std::erase_if(files, [&](const std::string &f) { return !launcher_name(g, f); });
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    for (const std::string &f : files) {
        if (!drop_launcher(g, f)) {
            return false;
        }
    }
    {
        platform::Locked held(shell.lock);
        if (shell.current == g.id) {
            shell.current.clear();
        }
    }
    const FileLock lock(g.menu_path);  // no folder: no menu, and no one to wait for
    const ReadResult read = lock.held() || errno == ENOENT
                                ? read_file(g.menu_path, menu_file_cap, xml)
                                : ReadResult::failed;
    if (read == ReadResult::ok && !menu_is_bare(xml, g.menu_name)) {
        return true;
    }
    return read != ReadResult::failed && remove_file(g.menu_path) && remove_file(g.directory_path);
}

struct Verb {
    const char *name;
    std::size_t min_args;
    std::size_t max_args;
    bool (*run)(const std::vector<std::string> &args);
};

constexpr Verb verbs[] = {
    {"CreateGroup", 1, 2, create_group}, {"ShowGroup", 2, 3, show_group},
    {"AddItem", 1, 9, add_item},         {"ReplaceItem", 1, 1, delete_item},
    {"DeleteItem", 1, 1, delete_item},   {"DeleteGroup", 1, 2, delete_group},
};

bool run(const Command &c) {
    for (const Verb &v : verbs) {
        if (::strcasecmp(c.name.c_str(), v.name) == 0) {
            return c.args.size() >= v.min_args && c.args.size() <= v.max_args &&
                   !c.args[0].empty() && v.run(c.args);
        }
    }
    return false;
}

}  // namespace

bool execute(std::string_view text) {
    const auto commands = parse(text);
    if (!commands) {
        return false;
    }
    for (const Command &c : *commands) {
        if (!run(c)) {
            return false;
        }
    }
    return true;
}

void reset_shell() {
    set_current_group({});
}

}  // namespace razivu::standins::progman
