// razivu sys [PATH]: the system queries of the support library, each with
// its answer and its status code, as an installation tool would see them.
// A drive's type and free space are the library's answers for a drive path
// (C:\...); for any other path, the tool asks the system about the file
// system the path lies on.
#include <cctype>
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
#include "services/file_system.h"
#include "services/status_codes.h"

namespace razivu_tool {
namespace {

constexpr const char *default_path = "C:\\";
constexpr const char *registry_key = "SOFTWARE\\BRENVOLT";
constexpr int32_t no_status = -1;  // HasProductRegistryKey answers 1 or 0
constexpr std::size_t drive_root_len = 3;  // what the drive queries look at
constexpr uint64_t bytes_per_unit = 1000;  // GetDiskFreeKB's unit

const Option options[] = {
    {"--json", nullptr, nullptr, "print one JSON document instead of lines"},
};

struct Answer {
    const char *query;  // "os version"
    std::string text;   // the answer as a person reads it
    JsonObject json;    // the answer's members
    int32_t status = no_status;
};

// Library texts are shown as the library's stand-ins read them: UTF-8 when
// they are, code page 1252 otherwise.
std::string text_of(const char *library_text) {
    return razivu::standins::utf8_from_ansi(library_text);
}

std::string shown_text(const char *library_text) {
    return shown(text_of(library_text), Encoding::utf8, false);
}

Answer os_version() {
    char version[RAZIVU_OS_VERSION_CAP] = {};
    char platform[RAZIVU_OS_PLATFORM_CAP] = {};
    const int32_t st = GetOSVersion(version, platform);
    return {"os version", shown_text(version) + " (" + shown_text(platform) + ")",
            JsonObject().text("version", text_of(version)).text("platform", text_of(platform)), st};
}

Answer windows_dir() {
    char dir[RAZIVU_PATH_CAP] = {};
    const int32_t st = GetWindowsDir(dir, RAZIVU_PATH_CAP);
    return {"windows dir", shown_text(dir), JsonObject().text("path", text_of(dir)), st};
}

bool is_drive_path(const char *path) {
    return std::isalpha(static_cast<unsigned char>(path[0])) != 0 && path[1] == ':';
}

// The four type queries; the type is the one that answers 1, the status
// the first that is not 0.
Answer drive_type(const std::string &root) {
    struct Query {
        const char *type;
        int32_t (*fn)(const char *, int32_t *);
    };
    const Query queries[] = {{"fixed", IsFixedDrive},
                             {"remote", IsRemoteDrive},
                             {"cdrom", IsCDROMDrive},
                             {"removable", IsRemovableDrive}};
    std::string type = "none";
    int32_t status = RAZIVU_STATUS_OK;
    for (const Query &q : queries) {
        int32_t flag = 0;
        const int32_t st = q.fn(root.c_str(), &flag);
        type = flag == 1 ? q.type : type;
        status = status == RAZIVU_STATUS_OK ? st : status;
    }
    return {"drive type", "drive " + shown_text(root.c_str()) + " " + type,
            JsonObject().text("drive", text_of(root.c_str())).text("type", type), status};
}

Answer free_space(const std::string &root) {
    uint32_t kb = 0;
    const int32_t st = GetDiskFreeKB(root.c_str(), &kb);
    return {"free space", "drive " + shown_text(root.c_str()) + " " + std::to_string(kb) + " units of 1000 bytes",
            JsonObject().text("drive", text_of(root.c_str())).number("kb", kb), st};
}

// A host path: the system's account of its file system, both answers at once.
std::vector<Answer> host_path(const char *path) {
    FileSystem fs;
    std::string why;
    const std::string shown_path = shown_text(path);
    if (!file_system_of(path, fs, why)) {
        return {{"file system", shown_path + " cannot be examined: " + why,
                 JsonObject().text("path", text_of(path)).text("error", why)}};
    }
    const uint64_t units = fs.free_bytes / bytes_per_unit;
    return {{"file system", shown_path + " " + fs.type,
             JsonObject().text("path", text_of(path)).text("type", fs.type)},
            {"free space", shown_path + " " + std::to_string(units) + " units of 1000 bytes",
             JsonObject().text("path", text_of(path)).number("kb", static_cast<int64_t>(units))}};
}

Answer screen() {
    int32_t width = 0;
    int32_t height = 0;
    const int32_t st = GetScreenSize(&width, &height);
    return {"screen", std::to_string(width) + " x " + std::to_string(height),
            JsonObject().number("width", width).number("height", height), st};
}

Answer registry() {
    const bool present = HasProductRegistryKey() != 0;
    return {"registry key", std::string(registry_key) + (present ? " present" : " absent"),
            JsonObject().text("key", registry_key).boolean("present", present), no_status};
}

std::string json_key(const char *query) {
    std::string key = query;
    for (char &c : key) {
        c = c == ' ' ? '_' : c;
    }
    return key;
}

void print_text(const std::vector<Answer> &answers) {
    for (const Answer &a : answers) {
        std::printf("%-13s %s", a.query, a.text.c_str());
        if (a.status != no_status) {
            const char *text = status_text(a.status);
            std::printf("  [status %d: %s]", static_cast<int>(a.status),
                        text != nullptr ? text : "unknown");
        }
        std::printf("\n");
    }
}

void print_json(const std::vector<Answer> &answers) {
    JsonObject doc;
    for (const Answer &a : answers) {
        JsonObject answer = a.json;
        if (a.status != no_status) {
            answer.number("status", a.status);
        }
        doc.raw(json_key(a.query).c_str(), answer.str());
    }
    std::printf("%s\n", doc.str().c_str());
}

}  // namespace

const Help sys_help{
    "sys",
    "[PATH]",
    "print the system queries of the support library with their status codes",
    "Asks what an installation tool asks: the operating system's version, the Windows\n"
    "directory, the type of the drive of PATH and its free space (PATH defaults to C:\\),\n"
    "the screen size and whether the product's registry key exists. Each answer comes\n"
    "with the status code the function returned (razivu explain CODE says what it means).\n"
    "The drive queries look at a drive's root, the first three characters of a drive path\n"
    "such as C:\\data; for a PATH of any other form (/tmp, \\\\server\\share) the system is\n"
    "asked instead for the type of the file system PATH lies on and its free space.\n"
    "On Linux drive X: is the folder $RAZIVU_PREFIX/drive_x, the registry key a folder\n"
    "below $RAZIVU_PREFIX/registry, and the screen the X display DISPLAY names.",
    options,
    Operands::files};

int cmd_sys(int argc, char **argv) {
    Args args;
    if (!parse_args(sys_help, argc, argv, 0, 1, args)) {
        return exit_usage;
    }
    const char *path = args.operands.empty() ? default_path : args.operands[0];
    std::vector<Answer> answers = {os_version(), windows_dir()};
    if (is_drive_path(path)) {
        const std::string root(path, strnlen(path, drive_root_len));
        answers.push_back(drive_type(root));
        answers.push_back(free_space(root));
    } else {
        for (Answer &a : host_path(path)) {
            answers.push_back(std::move(a));
        }
    }
    answers.push_back(screen());
    answers.push_back(registry());
    if (args.has("--json")) {
        print_json(answers);
    } else {
        print_text(answers);
    }
    return exit_ok;
}

}  // namespace razivu_tool
