// Help of the razivu tool: one description per command, from which the
// usage lines, `razivu help CMD`, `CMD --help`, the manual page and the bash
// completion are all rendered, and the option table each command parses
// its command line with (options.h).
#pragma once

#include <cstdio>
#include <span>
#include <string>

namespace razivu_tool {

struct Option {
    const char *name;   // "--timeout"
    const char *alias;  // "-v", or nullptr
    const char *value;  // what follows, "SECONDS"; nullptr for a switch
    const char *text;   // one sentence
};

// What the shell completes where a command expects an operand: nothing,
// file names, command names, or the words of Help::words.
enum class Operands { none, files, commands, words };

struct Help {
    const char *name;      // "call"
    const char *operands;  // "HOST SERVICE|PORT FUNCTION [ARG]...", "" for none
    const char *summary;   // one line for the list of commands
    // Paragraphs separated by blank lines. A line that begins with two
    // blanks is an example and kept as it stands.
    const char *text;
    std::span<const Option> options;
    Operands completes = Operands::none;
    const char *words = "";  // with Operands::words: "create add list remove"
};

// Every command's help, in the order `razivu help` lists them; main.cpp
// fills it from its command table.
std::span<const Help *const> all_help();
// The help of a command, or nullptr.
const Help *find_help(const char *name);

// The summary as a sentence: capital first letter, full stop.
std::string summary_sentence(const Help &help);
// "usage: razivu call [OPTIONS] HOST ..." and a newline.
void print_usage(std::FILE *out, const Help &help);
// Everything `razivu help CMD` prints.
void print_command_help(std::FILE *out, const Help &help);
// `razivu help`: the commands, the general options, exit statuses and
// environment.
void print_overview(std::FILE *out);
// The manual page razivu(1) in roff.
void print_man_page(std::FILE *out);
// A bash completion script for razivu.
void print_bash_completion(std::FILE *out);

// -h, --help: every command has it; main.cpp handles it before dispatch.
extern const Option help_option;
// The paragraphs that open the overview and the manual page.
extern const char *const tool_description;
extern const char *const options_note;

// "3.1.0", the version of the package the tool belongs to.
const char *package_version();

// Rows of the general sections, shared by the overview and the manual page.
struct Row {
    const char *key;
    const char *text;
};
std::span<const Row> exit_status_rows();
std::span<const Row> environment_rows();

}  // namespace razivu_tool
