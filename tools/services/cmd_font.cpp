// razivu font NAME-OR-PATH...: what the install operations would read from
// each font file: the face name of a TrueType file, or the description of a
// font resource file, and the entry of section "fonts" it would get. A bare
// file name that is not found as given is looked for in the FONTS and SYSTEM
// folders of the Windows directory, where installed fonts lie.
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include <razivu/razivu.h>

#include "standins/text.h"

#include "cli/commands.h"
#include "cli/options.h"

namespace razivu_tool {
namespace {

const char *const installed_folders[] = {"FONTS", "SYSTEM"};

// UTF-16 code units as UTF-8; a lone surrogate prints as U+FFFD.
std::string utf8_of(const RazivuWChar *text) {
    std::u16string units;
    for (; *text != 0; ++text) {
        units += static_cast<char16_t>(*text);  // wchar_t on Windows, of the same 16 bits
    }
    std::string out;
    razivu::standins::utf8_from_utf16(units.c_str(), out, razivu::standins::Surrogates::lenient);
    return out;
}

// The entry InstallFontResourceFile makes from a description, or "" when it
// would refuse the font (no colon, no name).
std::string resource_entry(const std::string &description) {
    const std::size_t colon = description.find(':');
    if (colon == std::string::npos || colon + 2 >= description.size()) {
        return {};
    }
    const bool vector = description.find("CONTINUOUSSCALING") != std::string::npos;
    return description.substr(colon + 2) + (vector ? " (Plotter)" : "");
}

// Prints what one file holds; false when it is neither kind of font file.
bool describe(const char *path, const char *shown) {
    RazivuWChar face[RAZIVU_FACE_NAME_CAP];
    if (GetTrueTypeFaceName(path, face) == RAZIVU_STATUS_OK) {
        const std::string name = utf8_of(face);
        std::printf("%s: TrueType, face \"%s\", entered as \"%s (TrueType)\"\n", shown,
                    name.c_str(), name.c_str());
        return true;
    }
    char description[RAZIVU_DESCRIPTION_CAP];
    if (ReadFontModuleDescription(path, description) == 1) {
        const std::string entry = resource_entry(description);
        std::printf("%s: font resource, description \"%s\", ", shown, description);
        if (entry.empty()) {
            std::printf("not entered (no name behind a colon)\n");
        } else {
            std::printf("entered as \"%s\"\n", entry.c_str());
        }
        return true;
    }
    return false;
}

// A bare name in the folders of installed fonts.
bool describe_installed(const char *name) {
    char windir[RAZIVU_PATH_CAP];
    if (std::strpbrk(name, "\\/:") != nullptr ||
        GetWindowsDir(windir, static_cast<int32_t>(sizeof windir)) != RAZIVU_STATUS_OK) {
        return false;
    }
    for (const char *folder : installed_folders) {
        const std::string path = std::string(windir) + "\\" + folder + "\\" + name;
        if (describe(path.c_str(), path.c_str())) {
            return true;
        }
    }
    return false;
}

}  // namespace

const Help font_help{
    "font",
    "NAME-OR-PATH...",
    "print the face name or description an install would read",
    "For a TrueType file, the face name the installer takes from its naming table\n"
    "(Japanese before German before English full names) and the WIN.INI entry it makes;\n"
    "for a font resource file (.fon), its description and the entry named from it. A bare\n"
    "name not found as given is looked for in the FONTS and SYSTEM folders of the Windows\n"
    "directory. Exit status 1 when a file is neither kind of font file.\n"
    "  $ razivu font /usr/share/wine/fonts/coure.fon",
    {},
    Operands::files};

int cmd_font(int argc, char **argv) {
    Args args;
    if (!parse_args(font_help, argc, argv, 1, INT_MAX, args)) {
        return exit_usage;
    }
    int rc = exit_ok;
    for (const char *name : args.operands) {
        if (!describe(name, name) && !describe_installed(name)) {
            std::fprintf(stderr,
                         "razivu font: %s: not a TrueType file with a naming table among its "
                         "first 40 tables, nor a font resource file with a font directory "
                         "(or not readable)\n",
                         name);
            rc = exit_failed;
        }
    }
    return rc;
}

}  // namespace razivu_tool
