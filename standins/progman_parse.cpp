// The bracketed command language of Program Manager, read the way its
// shells read it, plus "" for a quote inside a quoted argument.
#include <cctype>
#include <cstring>

#include "standins/progman.h"

namespace razivu::standins::progman {
namespace {

// A cursor over the text; every step checks the end first.
struct Reader {
    std::string_view text;
    std::size_t at = 0;

    bool done() const { return at >= text.size(); }
    char peek() const { return done() ? '\0' : text[at]; }
    void skip_blanks() {
        while (!done() && std::strchr(" \t\r\n", text[at]) != nullptr) {
            ++at;
        }
    }
    bool take(char c) {
        if (done() || text[at] != c) {
            return false;
        }
        ++at;
        return true;
    }
};

bool ends_unquoted(char c) {
    return std::strchr(",()[]", c) != nullptr;
}

std::string trimmed(std::string_view s) {
    const std::size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1));
}

// After the opening quote: up to the closing one, "" read as one quote.
bool quoted_argument(Reader &r, std::string &out) {
    while (!r.done()) {
        const char c = r.text[r.at++];
        if (c != '"') {
            out += c;
        } else if (r.peek() == '"') {
            out += '"';
            ++r.at;
        } else {
            return true;
        }
    }
    return false;
}

bool argument(Reader &r, std::string &out) {
    r.skip_blanks();
    if (r.take('"')) {
        if (!quoted_argument(r, out)) {
            return false;
        }
        r.skip_blanks();
        return r.peek() == ',' || r.peek() == ')';
    }
    const std::size_t start = r.at;
    while (!r.done() && !ends_unquoted(r.peek())) {
        ++r.at;
    }
    out = trimmed(r.text.substr(start, r.at - start));
    return true;
}

// After the opening parenthesis, up to and with the closing one.
bool arguments(Reader &r, std::vector<std::string> &out) {
    r.skip_blanks();
    if (r.take(')')) {
        return true;
    }
    do {
        std::string arg;
        if (!argument(r, arg)) {
            return false;
        }
        out.push_back(std::move(arg));
    } while (r.take(','));
    return r.take(')');
}

bool command(Reader &r, Command &out) {
    if (!r.take('[')) {
        return false;
    }
    r.skip_blanks();
    const std::size_t start = r.at;
    while (std::isalnum(static_cast<unsigned char>(r.peek())) != 0) {
        ++r.at;
    }
    out.name = std::string(r.text.substr(start, r.at - start));
    if (out.name.empty()) {
        return false;
    }
    r.skip_blanks();
    if (r.take('(') && !arguments(r, out.args)) {
        return false;
    }
    r.skip_blanks();
    return r.take(']');
}

}  // namespace

std::optional<std::vector<Command>> parse(std::string_view text) {
    Reader r{text};
    std::vector<Command> commands;
    r.skip_blanks();
    do {
        Command c;
        if (!command(r, c)) {
            return std::nullopt;
        }
        commands.push_back(std::move(c));
        r.skip_blanks();
    } while (!r.done());
    return commands;
}

}  // namespace razivu::standins::progman
