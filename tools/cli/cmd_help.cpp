// razivu help [COMMAND], razivu version: what the tool is and how to use it.
#include <cstdio>

#include <razivu/razivu.h>

#include "cli/commands.h"
#include "cli/json.h"
#include "cli/options.h"

namespace razivu_tool {
namespace {

const Option help_options[] = {
    {"--man", nullptr, nullptr, "print the manual page razivu(1) in roff instead"},
    {"--bash-completion", nullptr, nullptr, "print the bash completion script instead"},
};

}  // namespace

const Help help_help{
    "help",
    "[COMMAND]",
    "print the help of the tool or of one command",
    "Without COMMAND, lists the commands, the exit statuses and the environment. "
    "The same\ntexts make the manual page and the completion script, which the package installs.",
    help_options,
    Operands::commands};

namespace {

const Option version_options[] = {
    {"--json", nullptr, nullptr, "print {\"package\":...,\"library\":...} instead"},
};

}  // namespace

const Help version_help{"version",
                        "",
                        "print the package version and the library's version text",
                        "Also 'razivu --version'. The second line is the version text the library "
                        "writes its\nerror log under.",
                        version_options,
                        Operands::none};

int cmd_help(int argc, char **argv) {
    Args args;
    if (!parse_args(help_help, argc, argv, 0, 1, args)) {
        return exit_usage;
    }
    if (args.has("--man")) {
        print_man_page(stdout);
    } else if (args.has("--bash-completion")) {
        print_bash_completion(stdout);
    } else if (args.operands.empty()) {
        print_overview(stdout);
    } else if (const Help *h = find_help(args.operands[0]); h != nullptr) {
        print_command_help(stdout, *h);
    } else {
        return usage_error(help_help, std::string("no command '") + args.operands[0] + "'");
    }
    return exit_ok;
}

int cmd_version(int argc, char **argv) {
    Args args;
    if (!parse_args(version_help, argc, argv, 0, 0, args)) {
        return exit_usage;
    }
    if (args.has("--json")) {
        std::printf("%s\n",
                    JsonObject().text("package", package_version()).text("library", GetVersionString()).str().c_str());
    } else {
        std::printf("razivu %s\n%s\n", package_version(), GetVersionString());
    }
    return exit_ok;
}

}  // namespace razivu_tool
