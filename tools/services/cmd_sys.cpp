// razivu sys [PATH]: the system queries of the support library, each with
// its answer and its status code, as an installation tool would see them.
#include <cstdio>
#include <string>
#include <vector>

#include <razivu/razivu.h>

#include "cli/commands.h"
#include "cli/escape.h"
#include "cli/options.h"
#include "services/status_codes.h"

namespace razivu_tool {
namespace {

constexpr const char *default_path = "C:\\";
constexpr const char *registry_key = "SOFTWARE\\BRENVOLT";
constexpr int32_t no_status = -1;  // HasProductRegistryKey answers 1 or 0

const Option options[] = {
    {"--json", nullptr, nullptr, "print one JSON document instead of lines"},
};

struct Answer {
    const char *query;  // "os version"
    std::string text;   // the answer as a person reads it
    std::string json;   // the answer's JSON members, without braces
    int32_t status = no_status;
};

Answer os_version() {
    char version[RAZIVU_OS_VERSION_CAP] = {};
    char platform[RAZIVU_OS_PLATFORM_CAP] = {};
    const int32_t st = GetOSVersion(version, platform);
    return {"os version", std::string(version) + " (" + platform + ")",
            "\"version\":" + json_string(version) + ",\"platform\":" + json_string(platform), st};
}

Answer windows_dir() {
    char dir[RAZIVU_PATH_CAP] = {};
    const int32_t st = GetWindowsDir(dir, RAZIVU_PATH_CAP);
    return {"windows dir", dir, "\"path\":" + json_string(dir), st};
}

// The four type queries; the type is the one that answers 1, the status
// the first that is not 0.
Answer drive_type(const char *path) {
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
        const int32_t st = q.fn(path, &flag);
        type = flag == 1 ? q.type : type;
        status = status == RAZIVU_STATUS_OK ? st : status;
    }
    return {"drive type", std::string(path) + " " + type,
            "\"path\":" + json_string(path) + ",\"type\":" + json_string(type), status};
}

Answer free_space(const char *path) {
    uint32_t kb = 0;
    const int32_t st = GetDiskFreeKB(path, &kb);
    return {"free space", std::string(path) + " " + std::to_string(kb) + " units of 1000 bytes",
            "\"path\":" + json_string(path) + ",\"kb\":" + std::to_string(kb), st};
}

Answer screen() {
    int32_t width = 0;
    int32_t height = 0;
    const int32_t st = GetScreenSize(&width, &height);
    return {"screen", std::to_string(width) + " x " + std::to_string(height),
            "\"width\":" + std::to_string(width) + ",\"height\":" + std::to_string(height), st};
}

Answer registry() {
    const bool present = HasProductRegistryKey() != 0;
    return {"registry key", std::string(registry_key) + (present ? " present" : " absent"),
            "\"key\":" + json_string(registry_key) + ",\"present\":" + (present ? "true" : "false"),
            no_status};
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
    std::printf("{");
    for (std::size_t i = 0; i < answers.size(); ++i) {
        const Answer &a = answers[i];
        std::printf("%s\"%s\":{%s", i > 0 ? ",\n" : "\n", json_key(a.query).c_str(),
                    a.json.c_str());
        if (a.status != no_status) {
            std::printf(",\"status\":%d", static_cast<int>(a.status));
        }
        std::printf("}");
    }
    std::printf("\n}\n");
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
    "On Linux drive X: is the folder $RAZIVU_PREFIX/drive_x, the registry key a folder\n"
    "below $RAZIVU_PREFIX/registry, and the screen the X display DISPLAY names.",
    options,
    Operands::none};

int cmd_sys(int argc, char **argv) {
    Args args;
    if (!parse_args(sys_help, argc, argv, 0, 1, args)) {
        return exit_usage;
    }
    const char *path = args.operands.empty() ? default_path : args.operands[0];
    const std::vector<Answer> answers = {os_version(),     windows_dir(), drive_type(path),
                                         free_space(path), screen(),      registry()};
    if (args.has("--json")) {
        print_json(answers);
    } else {
        print_text(answers);
    }
    return exit_ok;
}

}  // namespace razivu_tool
