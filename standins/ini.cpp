// INI text: lookup and in-place update with the Win32 profile rules.
#include "standins/ini.h"

#include <cctype>
#include <vector>

#include "standins/text.h"

namespace razivu::standins::ini {
namespace {

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        if (nl == std::string_view::npos) {
            break;
        }
        text.remove_prefix(nl + 1);
    }
    return lines;
}

// A section header's name: the text between '[' and the last ']', trimmed.
std::optional<std::string_view> section_name(std::string_view line) {
    line = without_blanks(line);
    if (line.empty() || line.front() != '[') {
        return std::nullopt;
    }
    line.remove_prefix(1);
    if (std::size_t close = line.rfind(']'); close != std::string_view::npos) {
        line = line.substr(0, close);
    }
    return without_blanks(line);
}

// A key line's key: the text before the first '=', trimmed.
std::optional<std::string_view> key_name(std::string_view line) {
    line = without_blanks(line);
    if (line.empty() || line.front() == ';' || line.front() == '[') {
        return std::nullopt;
    }
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    return without_blanks(line.substr(0, eq));
}

// The lines [begin, end) of the first section called name; begin is the
// header line. Returns false when there is no such section.
bool find_section(const std::vector<std::string_view> &lines, std::string_view name,
                  std::size_t &begin, std::size_t &end) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto s = section_name(lines[i]);
        if (s && same_name(*s, name)) {
            begin = i;
            end = i + 1;
            while (end < lines.size() && !section_name(lines[end])) {
                ++end;
            }
            return true;
        }
    }
    return false;
}

std::string join(const std::vector<std::string> &lines) {
    std::string out;
    for (const auto &line : lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

}  // namespace

std::optional<std::string> lookup(std::string_view text, std::string_view section,
                                  std::string_view key) {
    section = without_blanks(section);
    key = without_blanks(key);
    auto lines = split_lines(text);
    std::size_t begin = 0;
    std::size_t end = 0;
    if (!find_section(lines, section, begin, end)) {
        return std::nullopt;
    }
    for (std::size_t i = begin + 1; i < end; ++i) {
        auto k = key_name(lines[i]);
        if (!k || !same_name(*k, key)) {
            continue;
        }
        std::string_view line = without_blanks(lines[i]);
        std::string_view value = without_blanks(line.substr(line.find('=') + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return std::string(value);
    }
    return std::nullopt;
}

std::optional<std::string> update(std::string_view text, std::string_view section,
                                  const char *key_text, const char *value) {
    section = without_blanks(section);
    if (!profile_entry_writable(section, key_text, value)) {
        return std::nullopt;
    }
    const std::string_view key = key_text != nullptr ? without_blanks(key_text) : std::string_view();
    auto views = split_lines(text);
    std::vector<std::string> lines(views.begin(), views.end());
    std::size_t begin = 0;
    std::size_t end = 0;
    const bool found = find_section(views, section, begin, end);
    const auto erase = [&](std::size_t from, std::size_t to) {
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(from),
                    lines.begin() + static_cast<std::ptrdiff_t>(to));
    };

    if (key_text == nullptr) {
        if (found) {
            erase(begin, end);
        }
        return join(lines);
    }
    for (std::size_t i = found ? begin + 1 : end; i < end; ++i) {
        auto k = key_name(views[i]);
        if (k && same_name(*k, key)) {
            if (value == nullptr) {
                erase(i, i + 1);
            } else {
                lines[i] = std::string(*k) + "=" + std::string(without_blanks(value));
            }
            return join(lines);
        }
    }
    if (value == nullptr) {
        return join(lines);
    }
    std::string entry = std::string(key) + "=" + std::string(without_blanks(value));
    if (found) {
        std::size_t at = end;
        while (at > begin + 1 && without_blanks(lines[at - 1]).empty()) {
            --at;
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
    } else {
        lines.push_back("[" + std::string(section) + "]");
        lines.push_back(entry);
    }
    return join(lines);
}

}  // namespace razivu::standins::ini
