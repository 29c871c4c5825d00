// The merged menu of a group: a small reader of menu files that finds the
// group's submenu and its includes by byte offsets, and edits that touch
// nothing else, so that other programs' entries survive.
#include <algorithm>
#include <cstring>

#include "standins/progman.h"
#include "standins/text.h"

namespace razivu::standins::progman {
namespace {

// One element of the file: where its tags stand and what it holds.
struct Element {
    std::string name;
    std::size_t open_begin = 0;   // '<' of the start tag
    std::size_t open_end = 0;     // after its '>'
    std::size_t close_begin = 0;  // '<' of the end tag; open_begin when empty-element
    std::size_t close_end = 0;    // after the end tag's '>'
    bool empty = false;           // written as <Name/>
    std::vector<std::size_t> children;
    std::string text;  // its own character data, raw
};

// Position after the '>' that closes a tag or declaration starting at at,
// skipping quoted values and a bracketed internal subset; npos if none.
std::size_t tag_end(std::string_view xml, std::size_t at) {
    char quote = '\0';
    int brackets = 0;
    for (std::size_t i = at; i < xml.size(); ++i) {
        const char c = xml[i];
        if (quote != '\0') {
            quote = c == quote ? '\0' : quote;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '[') {
            ++brackets;
        } else if (c == ']') {
            --brackets;
        } else if (c == '>' && brackets <= 0) {
            return i + 1;
        }
    }
    return std::string_view::npos;
}

std::string tag_name(std::string_view tag) {
    const std::size_t end = tag.find_first_of(" \t\r\n/>");
    return std::string(tag.substr(0, end));
}

bool only_blanks(std::string_view s) {
    return s.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// The elements of a well-formed file, the root first; nullopt otherwise.
std::optional<std::vector<Element>> read_elements(std::string_view xml) {
    std::vector<Element> all;
    std::vector<std::size_t> open;
    std::size_t at = 0;
    while (at < xml.size()) {
        const std::size_t lt = xml.find('<', at);
        const std::string_view text = xml.substr(at, lt == std::string_view::npos ? lt : lt - at);
        if (!open.empty()) {
            all[open.back()].text += text;
        } else if (!only_blanks(text)) {
            return std::nullopt;
        }
        if (lt == std::string_view::npos) {
            break;
        }
        const std::string_view rest = xml.substr(lt);
        std::size_t end = std::string_view::npos;
        if (rest.substr(0, 4) == "<!--") {
            const std::size_t close = xml.find("-->", lt + 4);
            end = close == std::string_view::npos ? close : close + 3;
        } else if (rest.substr(0, 9) == "<![CDATA[") {
            const std::size_t close = xml.find("]]>", lt + 9);
            if (close == std::string_view::npos || open.empty()) {
                return std::nullopt;
            }
            all[open.back()].text += xml.substr(lt + 9, close - lt - 9);
            end = close + 3;
        } else if (rest.substr(0, 2) == "<?" || rest.substr(0, 2) == "<!") {
            end = tag_end(xml, lt + 1);
        } else if (rest.substr(0, 2) == "</") {
            end = tag_end(xml, lt);
            if (end == std::string_view::npos || open.empty() ||
                all[open.back()].name != tag_name(rest.substr(2))) {
                return std::nullopt;
            }
            all[open.back()].close_begin = lt;
            all[open.back()].close_end = end;
            open.pop_back();
        } else {
            end = tag_end(xml, lt);
            if (end == std::string_view::npos || (open.empty() && !all.empty())) {
                return std::nullopt;
            }
            Element e;
            e.name = tag_name(rest.substr(1));
            e.open_begin = lt;
            e.open_end = end;
            e.empty = xml[end - 2] == '/';
            e.close_begin = e.empty ? lt : 0;
            e.close_end = e.empty ? end : 0;
            if (e.name.empty()) {
                return std::nullopt;
            }
            if (!open.empty()) {
                all[open.back()].children.push_back(all.size());
            }
            all.push_back(std::move(e));
            if (!all.back().empty) {
                open.push_back(all.size() - 1);
            }
        }
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        at = end;
    }
    if (all.empty() || !open.empty() || all[0].name != "Menu") {
        return std::nullopt;
    }
    return all;
}

std::string trimmed(std::string_view s) {
    const std::size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1));
}

// Children of element parent that are named name.
std::vector<std::size_t> children_named(const std::vector<Element> &all, std::size_t parent,
                                        std::string_view name) {
    std::vector<std::size_t> out;
    for (std::size_t c : all[parent].children) {
        if (all[c].name == name) {
            out.push_back(c);
        }
    }
    return out;
}

// The root's first submenu named menu_name, or npos.
std::size_t find_submenu(const std::vector<Element> &all, std::string_view menu_name) {
    const std::string want = xml_escaped(menu_name);
    for (std::size_t m : children_named(all, 0, "Menu")) {
        for (std::size_t n : children_named(all, m, "Name")) {
            if (trimmed(all[n].text) == want) {
                return m;
            }
        }
    }
    return std::string_view::npos;
}

// The <Filename> elements that the submenu's includes hold directly.
std::vector<std::size_t> included(const std::vector<Element> &all, std::size_t menu) {
    std::vector<std::size_t> out;
    for (std::size_t inc : children_named(all, menu, "Include")) {
        for (std::size_t f : children_named(all, inc, "Filename")) {
            out.push_back(f);
        }
    }
    return out;
}

// Where a block inserted before the tag at pos starts: the beginning of
// pos's line when only indentation precedes it there, else pos.
std::size_t line_start(std::string_view xml, std::size_t pos) {
    std::size_t begin = pos;
    while (begin > 0 && (xml[begin - 1] == ' ' || xml[begin - 1] == '\t')) {
        --begin;
    }
    return (begin == 0 || xml[begin - 1] == '\n') ? begin : pos;
}

std::string submenu_text(std::string_view menu_name, std::string_view directory_file,
                         std::string_view file) {
    std::string out = "<Menu>\n    <Name>" + xml_escaped(menu_name) + "</Name>\n    <Directory>" +
                      xml_escaped(directory_file) + "</Directory>\n    <Include>\n";
    if (!file.empty()) {
        out += "    <Filename>" + xml_escaped(file) + "</Filename>\n";
    }
    return out + "    </Include>\n</Menu>\n";
}

}  // namespace

std::string new_menu(std::string_view menu_name, std::string_view directory_file) {
    return "<!DOCTYPE Menu PUBLIC \"-//freedesktop//DTD Menu 1.0//EN\"\n"
           "    \"http://www.freedesktop.org/standards/menu-spec/menu-1.0.dtd\">\n"
           "<Menu>\n    <Name>Applications</Name>\n" +
           submenu_text(menu_name, directory_file, {}) + "</Menu>\n";
}

bool menu_include(std::string &xml, std::string_view menu_name, std::string_view directory_file,
                  std::string_view file) {
    const auto all = read_elements(xml);
    if (!all || (*all)[0].empty) {
        return false;
    }
    const std::size_t menu = find_submenu(*all, menu_name);
    if (menu == std::string_view::npos) {
        xml.insert(line_start(xml, (*all)[0].close_begin),
                   submenu_text(menu_name, directory_file, file));
        return true;
    }
    const std::string want = xml_escaped(file);
    for (std::size_t f : included(*all, menu)) {
        if (trimmed((*all)[f].text) == want) {
            return true;
        }
    }
    if (file.empty()) {
        return true;
    }
    const std::string line = "    <Filename>" + want + "</Filename>\n";
    for (std::size_t inc : children_named(*all, menu, "Include")) {
        if (!(*all)[inc].empty) {
            xml.insert(line_start(xml, (*all)[inc].close_begin), line);
            return true;
        }
    }
    if ((*all)[menu].empty) {
        return false;
    }
    xml.insert(line_start(xml, (*all)[menu].close_begin),
               "    <Include>\n" + line + "    </Include>\n");
    return true;
}

bool menu_exclude(std::string &xml, std::string_view menu_name, std::string_view file) {
    const auto all = read_elements(xml);
    if (!all) {
        return false;
    }
    const std::size_t menu = find_submenu(*all, menu_name);
    if (menu == std::string_view::npos) {
        return true;
    }
    const std::string want = xml_escaped(file);
    std::vector<std::size_t> doomed;
    for (std::size_t f : included(*all, menu)) {
        if (trimmed((*all)[f].text) == want) {
            doomed.push_back(f);
        }
    }
    // From the end backwards, so that earlier offsets stay valid. An element
    // alone on its line takes the line with it.
    std::sort(doomed.rbegin(), doomed.rend());
    for (std::size_t f : doomed) {
        const std::size_t begin = line_start(xml, (*all)[f].open_begin);
        std::size_t end = (*all)[f].close_end;
        const bool own_line = begin == 0 || xml[begin - 1] == '\n';
        if (own_line && end < xml.size() && xml[end] == '\n') {
            ++end;
        }
        xml.erase(begin, end - begin);
    }
    return true;
}

std::optional<std::vector<std::string>> menu_files(std::string_view xml,
                                                   std::string_view menu_name) {
    const auto all = read_elements(xml);
    if (!all) {
        return std::nullopt;
    }
    std::vector<std::string> files;
    const std::size_t menu = find_submenu(*all, menu_name);
    if (menu != std::string_view::npos) {
        for (std::size_t f : included(*all, menu)) {
            files.push_back(trimmed((*all)[f].text));
        }
    }
    return files;
}

bool menu_is_bare(std::string_view xml, std::string_view menu_name) {
    const auto all = read_elements(xml);
    if (!all) {
        return false;
    }
    const std::size_t menu = find_submenu(*all, menu_name);
    for (std::size_t c : (*all)[0].children) {
        if (c != menu && (*all)[c].name != "Name") {
            return false;
        }
    }
    if (menu == std::string_view::npos) {
        return true;
    }
    for (std::size_t c : (*all)[menu].children) {
        const Element &e = (*all)[c];
        const bool ours = e.name == "Name" || e.name == "Directory" ||
                          (e.name == "Include" && e.children.empty());
        if (!ours) {
            return false;
        }
    }
    return true;
}

}  // namespace razivu::standins::progman
