// The one command-line parser of the subcommands: options from the
// command's own table in its help (help.h), operands in order.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cli/escape.h"
#include "cli/help.h"

namespace razivu_tool {

struct Args {
    std::vector<const char *> operands;
    // (long name, value) in command-line order; a switch has the value "".
    std::vector<std::pair<const char *, const char *>> given;

    bool has(const char *name) const;
    // The value given last for the option, or nullptr.
    const char *value(const char *name) const;
};

// Parses argv against help.options. An option is "--name VALUE" or its
// alias ("-v"); "--" ends the options; a word of "-" and a digit is a
// (negative) number, never an option. Prints the problem and the usage to
// standard error and returns false on an unknown option, a missing value or
// a number of operands outside min_operands..max_operands.
bool parse_args(const Help &help, int argc, char **argv, int min_operands, int max_operands,
                Args &out);

// The option's value as an integer from min to max, or fallback when the
// option was not given. Prints the problem and returns false for a value
// out of range or not a number.
bool option_number(const Help &help, const Args &args, const char *name, int64_t min, int64_t max,
                   int64_t fallback, int64_t &out);

// The option's value; without the option, the environment variable env
// when it is set and not empty (env may be null); else nullptr.
const char *option_or_env(const Args &args, const char *name, const char *env);

// The option's value (or env's, see option_or_env) as seconds with up to
// three decimals, in milliseconds from 0 to max_seconds; fallback_ms when
// neither is given. Prints the problem and returns false otherwise.
bool option_seconds(const Help &help, const Args &args, const char *name, const char *env,
                    int64_t max_seconds, int64_t fallback_ms, int64_t &ms_out);

// --encoding NAME (escape.h), utf-8 when not given; prints the problem and
// returns false for a name it does not know.
bool option_encoding(const Help &help, const Args &args, Encoding &out);
// The --encoding option, for the tables of the commands that read wire text.
extern const Option encoding_option;

// The n operands of args as signed 32-bit decimals into values_out; false
// after naming the first bad one (names[i] is the operand's name in the help).
bool parse_numbers(const Help &help, const Args &args, const char *const *names,
                   int32_t *values_out, int n);

// Prints "razivu CMD: problem", the usage line and where to read more to
// standard error; returns exit_usage.
int usage_error(const Help &help, const std::string &problem);

}  // namespace razivu_tool
