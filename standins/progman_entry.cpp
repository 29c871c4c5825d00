// Desktop entries for the Program Manager stand-in: ids, text encoding,
// Exec lines and the launcher and directory files.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>

#include "standins/files.h"
#include "standins/paths.h"
#include "standins/progman.h"
#include "standins/text.h"

namespace razivu::standins::progman {
namespace {

// Hex digits of an id's hash mark.
constexpr std::size_t hash_digits = 16;
// Characters the Desktop Entry specification reserves in Exec arguments.
constexpr const char *exec_reserved = " \t\n\"'\\><~|&;$*?#()`";
// Icon files a desktop can show by path.
constexpr const char *icon_extensions[] = {".png", ".svg", ".svgz", ".xpm"};

uint64_t fnv1a(std::string_view s) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (char c : s) {
        h = (h ^ static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)))) *
            0x100000001b3ULL;
    }
    return h;
}

// The program of a Windows command line and where its arguments begin. An
// unquoted path may hold blanks: as CreateProcess does, the shortest prefix
// ending at a blank that names an existing file wins, else the first word.
std::string_view split_program(std::string_view line, std::string_view &rest_out) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        rest_out = {};
        return {};
    }
    line.remove_prefix(start);
    if (line.front() == '"') {
        const std::size_t close = line.find('"', 1);
        const std::size_t end = close == std::string_view::npos ? line.size() : close;
        rest_out = line.substr(end == line.size() ? end : end + 1);
        return line.substr(1, end - 1);
    }
    std::size_t end = line.find_first_of(" \t");
    for (std::size_t at = end; at != std::string_view::npos;
         at = line.find_first_of(" \t", at + 1)) {
        const std::string candidate(line.substr(0, at));
        if (is_regular_file(host_path(candidate.c_str()))) {
            end = at;
            break;
        }
    }
    end = end == std::string_view::npos ? line.size() : end;
    rest_out = line.substr(end);
    return line.substr(0, end);
}

// The arguments of a Windows command line as a C run-time start-up splits
// them: blanks separate outside quotes, 2n backslashes before a quote give
// n and toggle quoting, 2n+1 give n and a literal quote, "" inside quotes
// is a literal quote.
std::vector<std::string> split_arguments(std::string_view rest) {
    std::vector<std::string> args;
    std::string arg;
    bool in_arg = false;
    bool quoted = false;
    std::size_t slashes = 0;
    for (std::size_t i = 0; i <= rest.size(); ++i) {
        const bool end = i == rest.size();
        const char c = end ? ' ' : rest[i];
        if (!end && c == '\\') {
            ++slashes;
            in_arg = true;
            continue;
        }
        if (!end && c == '"') {
            arg.append(slashes / 2, '\\');
            if (slashes % 2 == 1) {
                arg += '"';
            } else if (quoted && i + 1 < rest.size() && rest[i + 1] == '"') {
                arg += '"';
                ++i;
            } else {
                quoted = !quoted;
            }
            slashes = 0;
            in_arg = true;
            continue;
        }
        arg.append(slashes, '\\');
        slashes = 0;
        if (end || (!quoted && (c == ' ' || c == '\t'))) {
            if (in_arg) {
                args.push_back(std::move(arg));
                arg.clear();
                in_arg = false;
            }
            continue;
        }
        arg += c;
        in_arg = true;
    }
    return args;
}

bool is_control(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

// One Exec argument: quoted when it holds a reserved character, with the
// four characters that stay special inside quotes escaped; % is doubled so
// that it never reads as a field code. A control character counts as
// reserved: entry_value writes it as a blank or an escape, which would split
// the argument unquoted.
std::string exec_argument(std::string_view arg) {
    const bool quote = arg.empty() || arg.find_first_of(exec_reserved) != std::string_view::npos ||
                       std::any_of(arg.begin(), arg.end(), is_control);
    std::string out = quote ? "\"" : "";
    for (char c : arg) {
        if (quote && std::strchr("\"`$\\", c) != nullptr) {
            out += '\\';
        }
        out += c;
        if (c == '%') {
            out += '%';
        }
    }
    return quote ? out + '"' : out;
}

bool has_icon_extension(std::string_view path) {
    for (std::string_view ext : icon_extensions) {
        if (path.size() > ext.size()) {
            const std::string_view tail = path.substr(path.size() - ext.size());
            bool same = true;
            for (std::size_t i = 0; i < ext.size(); ++i) {
                same = same && std::tolower(static_cast<unsigned char>(tail[i])) == ext[i];
            }
            if (same) {
                return true;
            }
        }
    }
    return false;
}

void put_key(std::string &out, const char *key, std::string_view value) {
    out += key;
    out += '=';
    out += entry_value(utf8_from_ansi(value));
    out += '\n';
}

}  // namespace

std::string make_id(std::string_view name) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string id;
    for (char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) != 0 && c < 0x80) {
            id += static_cast<char>(std::tolower(c));
        } else {
            id += '_';
            id += hex[c >> 4];
            id += hex[c & 0xf];
        }
    }
    if (id.size() <= id_cap) {
        return id;
    }
    std::size_t keep = id_cap - hash_digits - 1;
    if (id[keep - 1] == '_') {
        keep -= 1;
    } else if (id[keep - 2] == '_') {
        keep -= 2;
    }
    id.resize(keep);
    id += '.';
    uint64_t h = fnv1a(name);
    for (std::size_t i = 0; i < hash_digits; ++i, h <<= 4) {
        id += hex[h >> 60];
    }
    return id;
}

std::string entry_value(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case ' ': out += i == 0 ? "\\s" : " "; break;
            default: out += is_control(c) ? ' ' : c;
        }
    }
    return out;
}

std::string exec_line(std::string_view command_line) {
    std::string_view rest;
    const std::string program(split_program(command_line, rest));
    if (program.empty()) {
        return {};
    }
    std::string out = exec_argument(host_path(program.c_str()));
    for (const std::string &arg : split_arguments(rest)) {
        out += ' ';
        out += exec_argument(arg);
    }
    return out;
}

std::string default_item_name(std::string_view command_line) {
    std::string_view rest;
    return file_title(split_program(command_line, rest));
}

std::string desktop_entry(const Launcher &item) {
    std::string_view rest;
    const std::string program(split_program(item.command_line, rest));
    const std::string host_program = host_path(program.c_str());
    std::string dir =
        item.work_dir.empty() ? std::string() : host_path(item.work_dir.c_str());
    if (dir.empty() && !host_program.empty() && host_program.front() == '/') {
        dir = host_program.substr(0, std::max<std::size_t>(host_program.rfind('/'), 1));
    }
    std::string out = "[Desktop Entry]\nType=Application\nVersion=1.0\n";
    put_key(out, "Name", item.name);
    put_key(out, "Exec", exec_line(utf8_from_ansi(item.command_line)));
    if (!dir.empty()) {
        put_key(out, "Path", dir);
    }
    if (!item.icon_path.empty() && has_icon_extension(item.icon_path)) {
        put_key(out, "Icon", host_path(item.icon_path.c_str()));
    }
    return out + "Terminal=false\n";
}

std::string directory_entry(std::string_view group_name) {
    std::string out = "[Desktop Entry]\nType=Directory\nVersion=1.0\n";
    put_key(out, "Name", group_name);
    return out;
}

}  // namespace razivu::standins::progman
