// The help texts as a terminal shows them, and the general sections that the
// overview and the manual page share.
#include "cli/help.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace razivu_tool {
namespace {

// Option names wider than this put their text on a line of its own.
constexpr std::size_t option_column = 24;
constexpr std::size_t command_column = 9;
constexpr std::size_t line_width = 79;

// Prints text from column indent (the cursor stands there already), words
// wrapped before line_width, continuation lines indented as far.
void print_wrapped(std::FILE *out, const char *text, std::size_t indent) {
    std::size_t column = indent;
    const char *p = text;
    while (*p != '\0') {
        const std::size_t word = std::strcspn(p, " ");
        if (column > indent && column + 1 + word > line_width) {
            std::fprintf(out, "\n%*s", static_cast<int>(indent), "");
            column = indent;
        } else if (column > indent) {
            std::fputc(' ', out);
            ++column;
        }
        std::fwrite(p, 1, word, out);
        column += word;
        p += word;
        p += std::strspn(p, " ");
    }
    std::fputc('\n', out);
}

const Row exit_rows[] = {
    {"0", "success; for call, a reply whose return code is 10"},
    {"1",
     "the operation ran and the answer is a failure: a reply with another return code, "
     "bytes that are not wire fields, a code without a text, a date without a day number"},
    {"2", "the command line is wrong, or a value cannot travel in the wire format"},
    {"3",
     "a connection, file or reply could not be used: no connection, a connection closed "
     "or reset, a reply that is malformed or over its limits, a read error"},
    {"4", "a time-out passed (call --timeout)"},
};

const Row env_rows[] = {
    {"RAZIVU_HOST", "the server of call and proxy when none is given (default 127.0.0.1)"},
    {"RAZIVU_PORT", "its port or service name; call and proxy need a server from here or the command line"},
    {"RAZIVU_TIMEOUT", "the --timeout of call when none is given, in seconds (0.5 is half a second)"},
    {"RAZIVU_TOOL_LOG",
     "the file the library's log entries of every command but serve go to (the error log "
     "errstack.txt among them); without it they are not written, so that no command empties or "
     "fills the log of a server"},
    {"RAZIVU_DEBUG", "names the library's trace file; it is emptied when the trace starts"},
    {"RAZIVU_PREFIX",
     "root of the folders that stand in for Windows drives (drive C: is "
     "$RAZIVU_PREFIX/drive_c); default ${XDG_DATA_HOME:-$HOME/.local/share}/razivu"},
    {"RAZIVU_READAHEAD", "1 makes the library read ahead on every socket it opens or accepts"},
    {"RAZIVU_PROGMAN", "off switches the program-menu stand-in off: menu then gets status 1007"},
    {"COMLOGGING", "ON or on switches the library's line logging on"},
};

std::string option_label(const Option &o) {
    std::string label = o.alias != nullptr ? std::string(o.alias) + ", " : std::string("    ");
    label += o.name;
    if (o.value != nullptr) {
        label += std::string(" ") + o.value;
    }
    return label;
}

void print_option(std::FILE *out, const Option &o) {
    const std::string label = option_label(o);
    if (label.size() + 2 > option_column) {
        std::fprintf(out, "  %s\n  %*s", label.c_str(), static_cast<int>(option_column), "");
    } else {
        std::fprintf(out, "  %-*s", static_cast<int>(option_column), label.c_str());
    }
    print_wrapped(out, o.text, option_column + 2);
}

void print_rows(std::FILE *out, const char *title, std::span<const Row> rows) {
    std::size_t width = 0;
    for (const Row &r : rows) {
        width = std::max(width, std::strlen(r.key));
    }
    std::fprintf(out, "\n%s:\n", title);
    for (const Row &r : rows) {
        std::fprintf(out, "  %-*s  ", static_cast<int>(width), r.key);
        print_wrapped(out, r.text, width + 4);
    }
}

}  // namespace

const Option help_option{"--help", "-h", nullptr, "print this help and exit"};

const char *const tool_description =
    "The command-line tool of razivu: calls and captures in the legacy wire format, a\n"
    "demonstration server and a decoding proxy, the error and status texts, the system\n"
    "queries and the calendar functions of the library.";

const char *const options_note =
    "Every command takes -h or --help, anywhere (razivu --help call, razivu call -h).\n"
    "An option's value follows it as the next word or after '=' (--timeout 5,\n"
    "--timeout=0.5); '--' ends the options. Commands that print data take --json: one\n"
    "JSON document (proxy: one object a line) whose texts are UTF-8. On a terminal,\n"
    "every control character of a text is shown as an escape.";

const Help *find_help(const char *name) {
    for (const Help *h : all_help()) {
        if (name != nullptr && std::strcmp(h->name, name) == 0) {
            return h;
        }
    }
    return nullptr;
}

std::string summary_sentence(const Help &help) {
    std::string out = help.summary;
    if (!out.empty()) {
        out[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[0])));
    }
    return out + ".";
}

void print_usage(std::FILE *out, const Help &help) {
    std::fprintf(out, "usage: razivu %s%s%s%s\n", help.name,
                 help.options.empty() ? "" : " [OPTIONS]", help.operands[0] != '\0' ? " " : "",
                 help.operands);
}

void print_command_help(std::FILE *out, const Help &help) {
    print_usage(out, help);
    std::fprintf(out, "\n%s\n\noptions:\n", summary_sentence(help).c_str());
    for (const Option &o : help.options) {
        print_option(out, o);
    }
    print_option(out, help_option);
    if (help.text[0] != '\0') {
        std::fprintf(out, "\n%s\n", help.text);
    }
}

void print_overview(std::FILE *out) {
    std::fprintf(out,
                 "usage: razivu COMMAND [OPTIONS] [ARGUMENTS]\n"
                 "       razivu help [COMMAND] | --help | --version\n\n%s\n\ncommands:\n",
                 tool_description);
    for (const Help *h : all_help()) {
        std::fprintf(out, "  %-*s", static_cast<int>(command_column), h->name);
        print_wrapped(out, h->summary, command_column + 2);
    }
    std::fprintf(out, "\n%s\n", options_note);
    print_rows(out, "exit status", exit_rows);
    print_rows(out, "environment", env_rows);
}

const char *package_version() {
    return RAZIVU_PACKAGE_VERSION;
}

std::span<const Row> exit_status_rows() {
    return exit_rows;
}

std::span<const Row> environment_rows() {
    return env_rows;
}

}  // namespace razivu_tool
