#include "cli/options.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/commands.h"
#include "common/numbers.h"

namespace razivu_tool {
namespace {

const Option *find_option(const Help &help, const char *word) {
    for (const Option &o : help.options) {
        if (std::strcmp(word, o.name) == 0 ||
            (o.alias != nullptr && std::strcmp(word, o.alias) == 0)) {
            return &o;
        }
    }
    return nullptr;
}

bool looks_like_option(const char *word) {
    return word[0] == '-' && word[1] != '\0' &&
           std::isdigit(static_cast<unsigned char>(word[1])) == 0;
}

}  // namespace

bool Args::has(const char *name) const {
    return value(name) != nullptr;
}

const char *Args::value(const char *name) const {
    const char *found = nullptr;
    for (const auto &[option, value] : given) {
        if (std::strcmp(option, name) == 0) {
            found = value;
        }
    }
    return found;
}

bool parse_args(const Help &help, int argc, char **argv, int min_operands, int max_operands,
                Args &out) {
    bool options_done = false;
    for (int i = 0; i < argc; ++i) {
        const char *word = argv[i];
        if (options_done || !looks_like_option(word)) {
            out.operands.push_back(word);
        } else if (std::strcmp(word, "--") == 0) {
            options_done = true;
        } else if (const Option *o = find_option(help, word); o == nullptr) {
            usage_error(help, std::string("unknown option '") + word + "'");
            return false;
        } else if (o->value == nullptr) {
            out.given.emplace_back(o->name, "");
        } else if (i + 1 < argc) {
            out.given.emplace_back(o->name, argv[++i]);
        } else {
            usage_error(help, std::string("option ") + o->name + " needs a value " + o->value);
            return false;
        }
    }
    const auto n = static_cast<int>(out.operands.size());
    if (n < min_operands || n > max_operands) {
        usage_error(help, n < min_operands ? "missing arguments" : "too many arguments");
        return false;
    }
    return true;
}

bool option_number(const Help &help, const Args &args, const char *name, int64_t min, int64_t max,
                   int64_t fallback, int64_t &out) {
    const char *text = args.value(name);
    if (text == nullptr) {
        out = fallback;
        return true;
    }
    if (parse_integer(text, min, max, out)) {
        return true;
    }
    usage_error(help, std::string(name) + " takes a whole number from " + std::to_string(min) +
                          " to " + std::to_string(max) + ", not '" + text + "'");
    return false;
}

const Option encoding_option{"--encoding", nullptr, "NAME",
                             "read texts as utf-8 (the default) or cp1252 (see below)"};

const char *option_or_env(const Args &args, const char *name, const char *env) {
    if (const char *given = args.value(name); given != nullptr) {
        return given;
    }
    const char *set = env != nullptr ? std::getenv(env) : nullptr;
    return set != nullptr && set[0] != '\0' ? set : nullptr;
}

bool option_seconds(const Help &help, const Args &args, const char *name, const char *env,
                    int64_t max_seconds, int64_t fallback_ms, int64_t &ms_out) {
    constexpr int64_t ms_per_second = 1000;
    const char *text = option_or_env(args, name, env);
    if (text == nullptr) {
        ms_out = fallback_ms;
        return true;
    }
    if (parse_milliseconds(text, max_seconds * ms_per_second, ms_out)) {
        return true;
    }
    const bool from_env = args.value(name) == nullptr;
    usage_error(help, std::string(from_env ? env : name) + " takes seconds from 0 to " +
                          std::to_string(max_seconds) + " (0.5 is half a second), not '" + text +
                          "'");
    return false;
}

bool option_encoding(const Help &help, const Args &args, Encoding &out) {
    const char *name = args.value(encoding_option.name);
    out = Encoding::utf8;
    if (name == nullptr || parse_encoding(name, out)) {
        return true;
    }
    usage_error(help, std::string("--encoding takes utf-8 or cp1252, not '") + name + "'");
    return false;
}

int usage_error(const Help &help, const std::string &problem) {
    std::fprintf(stderr, "razivu %s: %s\n", help.name, problem.c_str());
    print_usage(stderr, help);
    std::fprintf(stderr, "Try 'razivu help %s' for more.\n", help.name);
    return exit_usage;
}

bool parse_numbers(const Help &help, const Args &args, const char *const *names,
                   int32_t *values_out, int n) {
    for (int i = 0; i < n; ++i) {
        const char *given = args.operands.at(static_cast<std::size_t>(i));
        if (!parse_int32(given, INT32_MIN, INT32_MAX, values_out[i])) {
            usage_error(help, std::string(names[i]) + " must be a 32-bit integer, not '" + given + "'");
            return false;
        }
    }
    return true;
}

}  // namespace razivu_tool
