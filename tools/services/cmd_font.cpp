// razivu font NAME-OR-PATH...: what the install operations would read from
// each font file: the face name of a TrueType file, or the description of a
// font resource file, and the entry of section "fonts" it would get, or why
// the install would refuse it. A bare file name that is not found as given
// is looked for in the FONTS and SYSTEM folders of the Windows directory,
// where installed fonts lie.
//
// Names come from the files: shown on a terminal, every control character is
// an escape (a description could otherwise retitle the window or clear it).
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <razivu/razivu.h>

#include "standins/text.h"

#include "cli/commands.h"
#include "cli/escape.h"
#include "cli/json.h"
#include "cli/options.h"

namespace razivu_tool {
namespace {

namespace text = razivu::standins;

const char *const installed_folders[] = {"FONTS", "SYSTEM"};
constexpr std::u16string_view truetype_suffix = u" (TrueType)";
constexpr const char *plotter_suffix = " (Plotter)";
// The longest entry names the installs take (fonts.h).
constexpr std::size_t max_truetype_entry_units = 127;
constexpr std::size_t max_resource_entry = 255;

const Option options[] = {
    {"--json", nullptr, nullptr, "print one JSON document instead of lines"},
};

// What one file would give an install.
struct Font {
    std::string path;
    const char *kind = nullptr;  // "TrueType", "font resource"; nullptr: neither
    const char *name_label = "";  // "face", "description"
    std::string name;             // UTF-8
    std::string entry;            // UTF-8; empty when refused
    std::string refusal;          // why, when refused
};

std::u16string units_of(const RazivuWChar *face) {
    std::u16string units;
    for (; *face != 0; ++face) {
        units += static_cast<char16_t>(*face);  // wchar_t on Windows, of the same 16 bits
    }
    return units;
}

// An entry name the profile takes as itself, as the installs check it.
bool writable(const std::string &entry) {
    return text::profile_entry_writable({}, entry.c_str(), nullptr);
}

void name_truetype(const RazivuWChar *face, Font &f) {
    const std::u16string key = units_of(face) + std::u16string(truetype_suffix);
    text::utf8_from_utf16(units_of(face).c_str(), f.name, text::Surrogates::lenient);
    std::string entry;
    if (!text::utf8_from_utf16(key.c_str(), entry)) {
        f.refusal = "the face name holds a lone surrogate";
    } else if (key.size() > max_truetype_entry_units) {
        f.refusal = "the entry would be over 127 UTF-16 units";
    } else if (!writable(entry)) {
        f.refusal = "the entry holds a control character, an '=' or a leading '[' or ';'";
    } else {
        f.entry = entry;
    }
}

// The entry is the text behind the colon and its blank, in code page 1252.
void name_resource(const std::string &description, Font &f) {
    const std::size_t colon = description.find(':');
    const bool vector = description.find("CONTINUOUSSCALING") != std::string::npos;
    const std::string key = colon == std::string::npos || colon + 2 >= description.size()
                                ? std::string()
                                : description.substr(colon + 2) + (vector ? plotter_suffix : "");
    text::utf8_from_cp1252(description, f.name);
    std::string entry;
    if (key.empty()) {
        f.refusal = "no name behind a colon";
    } else if (key.size() > max_resource_entry) {
        f.refusal = "the entry would be over 255 bytes";
    } else if (!text::utf8_from_cp1252(key, entry) || !writable(entry)) {
        f.refusal = "the entry holds a control character, a byte code page 1252 lacks, an '=' "
                    "or a leading '[' or ';'";
    } else {
        f.entry = entry;
    }
}

// What path holds; false when it is neither kind of font file.
bool describe(const char *path, Font &f) {
    f.path = path;
    RazivuWChar face[RAZIVU_FACE_NAME_CAP];
    if (GetTrueTypeFaceName(path, face) == RAZIVU_STATUS_OK) {
        f.kind = "TrueType";
        f.name_label = "face";
        name_truetype(face, f);
        return true;
    }
    char description[RAZIVU_DESCRIPTION_CAP];
    if (ReadFontModuleDescription(path, description) == 1) {
        f.kind = "font resource";
        f.name_label = "description";
        name_resource(description, f);
        return true;
    }
    return false;
}

// A bare name in the folders of installed fonts.
bool describe_installed(const char *name, Font &f) {
    char windir[RAZIVU_PATH_CAP];
    if (std::strpbrk(name, "\\/:") != nullptr ||
        GetWindowsDir(windir, static_cast<int32_t>(sizeof windir)) != RAZIVU_STATUS_OK) {
        return false;
    }
    for (const char *folder : installed_folders) {
        const std::string path = std::string(windir) + "\\" + folder + "\\" + name;
        if (describe(path.c_str(), f)) {
            return true;
        }
    }
    return false;
}

std::string shown_name(const std::string &utf8) {
    return shown(utf8, Encoding::utf8, true);
}

void print_text(const Font &f) {
    const std::string path = shown(text::utf8_from_ansi(f.path), Encoding::utf8, false);
    std::printf("%s: %s, %s %s, ", path.c_str(), f.kind, f.name_label, shown_name(f.name).c_str());
    if (f.entry.empty()) {
        std::printf("not entered (%s)\n", f.refusal.c_str());
    } else {
        std::printf("entered as %s\n", shown_name(f.entry).c_str());
    }
}

std::string json_of(const Font &f, const std::string &given) {
    JsonObject o;
    o.text("given", text::utf8_from_ansi(given)).text("path", text::utf8_from_ansi(f.path));
    if (f.kind == nullptr) {
        return o.raw("kind", "null").str();
    }
    o.text("kind", f.kind).text(f.name_label, f.name);
    return (f.entry.empty() ? o.raw("entry", "null").text("refused", f.refusal)
                            : o.text("entry", f.entry).raw("refused", "null"))
        .str();
}

}  // namespace

const Help font_help{
    "font",
    "NAME-OR-PATH...",
    "print the face name or description an install would read",
    "For a TrueType file, the face name the installer takes from its naming table\n"
    "(Japanese before German before English full names) and the WIN.INI entry it makes;\n"
    "for a font resource file (.fon), its description (code page 1252) and the entry named\n"
    "from it. When the install would refuse the entry (a control character, a name too\n"
    "long, no name behind the colon), the line says why instead. A bare name not found as\n"
    "given is looked for in the FONTS and SYSTEM folders of the Windows directory. Exit\n"
    "status 1 when a file is neither kind of font file.\n"
    "  $ razivu font /usr/share/wine/fonts/coure.fon\n"
    "\n"
    "With --json: {\"fonts\":[...]}, each with given, path, kind (null for neither kind),\n"
    "face or description, entry (null when refused) and refused (the reason, or null).",
    options,
    Operands::files};

int cmd_font(int argc, char **argv) {
    Args args;
    if (!parse_args(font_help, argc, argv, 1, INT_MAX, args)) {
        return exit_usage;
    }
    const bool json = args.has("--json");
    int rc = exit_ok;
    std::vector<std::string> docs;
    for (const char *name : args.operands) {
        Font f;
        const bool known = describe(name, f) || describe_installed(name, f);
        if (!known) {
            f = Font();
            f.path = name;
            std::fprintf(stderr,
                         "razivu font: %s: not a TrueType file with a naming table among its "
                         "first 40 tables, nor a font resource file with a font directory "
                         "(or not readable)\n",
                         shown(text::utf8_from_ansi(name), Encoding::utf8, false).c_str());
            rc = exit_failed;
        }
        if (json) {
            docs.push_back(json_of(f, name));
        } else if (known) {
            print_text(f);
        }
    }
    if (json) {
        std::printf("%s\n", JsonObject().raw("fonts", json_array(docs)).str().c_str());
    }
    return rc;
}

}  // namespace razivu_tool
