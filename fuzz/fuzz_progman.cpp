// The Program Manager stand-in: its command language, its edits of merged
// menu files, the texts it writes into desktop entries, and the whole
// interpreter with its files in the working folder. The first byte picks the
// part; the rest is its input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "standins/progman.h"
#include "standins/text.h"
#include "support/progman_internal.h"
#include "fuzz/quiet_files.h"

namespace pm = razivu::standins::progman;

namespace {

using razivu::fuzz::check;

// What parses must parse again, the same, when the library's own quoting
// writes it back.
void language(std::string_view text) {
    const auto commands = pm::parse(text);
    if (!commands) {
        return;
    }
    std::string again;
    for (const pm::Command &c : *commands) {
        again += "[" + c.name + "(";
        for (std::size_t i = 0; i < c.args.size(); ++i) {
            if (c.args[i].find('\0') != std::string::npos) {
                return;  // C strings cannot carry it
            }
            again += (i > 0 ? "," : "") + razivu::support::command_argument(c.args[i].c_str());
        }
        again += c.args.size() == 1 && c.args[0].empty() ? "\"\")]" : ")]";
    }
    const auto back = pm::parse(again);
    check(back.has_value() && back->size() == commands->size());
    for (std::size_t i = 0; i < back->size(); ++i) {
        check((*back)[i].args == (*commands)[i].args);
    }
}

// An edit either leaves the text alone or does what it says.
void menu(std::string_view text) {
    constexpr std::string_view name = "razivu-kov";
    constexpr std::string_view file = "razivu-kov-x.desktop";
    std::string xml(text);
    if (!pm::menu_include(xml, name, "razivu-kov.directory", file)) {
        check(xml == text);
        return;
    }
    const auto files = pm::menu_files(xml, name);
    check(files.has_value() && std::find(files->begin(), files->end(), file) != files->end());
    check(pm::menu_exclude(xml, name, file));
    auto others = *files;
    others.erase(std::remove(others.begin(), others.end(), file), others.end());
    check(pm::menu_files(xml, name) == others);
}

// Ids are file-name safe and bounded; entry values are UTF-8 on one line.
void entry_texts(std::string_view text) {
    const std::string id = pm::make_id(text);
    check(id.size() <= pm::id_cap &&
          id.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_.") == std::string::npos);
    const std::string utf8 = razivu::standins::utf8_from_ansi(text);
    check(razivu::standins::utf8_from_ansi(utf8) == utf8);
    const std::string value = pm::entry_value(utf8);
    check(std::none_of(value.begin(), value.end(), [](char c) { return c >= 0 && c < 0x20; }) &&
          value.find('\x7f') == std::string::npos);
    (void)pm::exec_line(text);
    (void)pm::default_item_name(text);
}

}  // namespace

// The interpreter writes below the XDG folders: keep them in the working
// folder of the run, whatever the environment says.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const std::string cwd = std::filesystem::current_path().string();
    ::setenv("XDG_DATA_HOME", (cwd + "/xdg/data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (cwd + "/xdg/config").c_str(), 1);
    ::unsetenv("RAZIVU_PROGMAN");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char *>(data) + 1, size - 1);
    switch (data[0] % 4) {
        case 0: language(text); break;
        case 1: menu(text); break;
        case 2: entry_texts(text); break;
        default: (void)pm::execute(text);
    }
    return 0;
}
