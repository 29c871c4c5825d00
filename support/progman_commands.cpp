// The command texts of the Program Manager operations.
#include <cstring>
#include <string>

#include "razivu/support.h"
#include "standins/text.h"
#include "support/progman_internal.h"

namespace razivu::support {
namespace {

// What the shell trims around an unquoted argument.
bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// An unquoted argument ends at any of these; a leading quote opens a quoted one.
bool ends_unquoted(char c) {
    return std::strchr(",()[]", c) != nullptr;
}

bool needs_quotes(const std::string &text) {
    if (text.empty()) {
        return false;
    }
    if (is_blank(text.front()) || is_blank(text.back()) || text.front() == '"') {
        return true;
    }
    for (char c : text) {
        if (ends_unquoted(c)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string command_argument(const char *text) {
    const std::string plain = text != nullptr ? text : "";
    if (!needs_quotes(plain)) {
        return plain;
    }
    std::string out = "\"";
    for (char c : plain) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + '"';
}

std::string program_path(const char *command_line) {
    const char *p = command_line;
    while (is_blank(*p)) {
        ++p;
    }
    const char stop = *p == '"' ? '"' : ' ';
    if (*p == '"') {
        ++p;
    }
    const char *end = p;
    while (*end != '\0' && *end != stop && !(stop == ' ' && is_blank(*end))) {
        ++end;
    }
    return std::string(p, end);
}

std::string program_title(const char *command_line) {
    return standins::file_title(program_path(command_line));
}

std::string show_group_command() {
    return std::string("[ShowGroup(") + progman_group + ",1)]";
}

// The forms differ in their spacing; each is sent exactly as it stands here.
int32_t item_commands(const char *command_line, const char *item_name, const char *icon_path,
                      int32_t icon_index, int32_t x, int32_t y, ItemCommands *out) {
    const std::string name = item_name != nullptr && *item_name != '\0'
                                 ? std::string(item_name)
                                 : program_title(command_line);
    if (name.empty()) {
        return RAZIVU_STATUS_FAILED;
    }
    const std::string cmd = command_argument(command_line);
    const std::string title = command_argument(name.c_str());
    out->show = show_group_command();
    out->replace = "[ReplaceItem(" + title + ")]";
    // An empty icon path is no icon path: the shell is asked for the
    // program's own icons by naming the program, never by an empty field.
    const bool has_icon = icon_path != nullptr && *icon_path != '\0';
    std::string add = "[AddItem( " + cmd + " , " + title;
    if (has_icon || icon_index != 0 || x != 0 || y != 0) {
        const std::string icon = has_icon ? icon_path : program_path(command_line);
        add += " , " + command_argument(icon.c_str());
    }
    if (icon_index != 0 || x != 0 || y != 0) {
        add += ", " + std::to_string(icon_index);
    }
    if (x != 0 || y != 0) {
        add += ", " + std::to_string(x) + ", " + std::to_string(y);
    }
    out->add = add + " )]";
    const bool fits =
        out->replace.size() <= progman_command_max && out->add.size() <= progman_command_max;
    return fits ? RAZIVU_STATUS_OK : RAZIVU_STATUS_DDE_COMMAND;
}

}  // namespace razivu::support
