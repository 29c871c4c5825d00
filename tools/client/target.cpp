#include "client/target.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/numbers.h"

namespace razivu_tool {
namespace {

constexpr const char *default_host = "127.0.0.1";

// A port number must be one; any other text is a service name.
bool valid_service(const std::string &service, std::string &problem) {
    int64_t port = 0;
    if (service.find_first_not_of("0123456789") != std::string::npos ||
        parse_integer(service.c_str(), 1, max_port, port)) {
        return true;
    }
    problem = "port '" + service + "' is not 1 to 65535";
    return false;
}

std::string without_brackets(const char *host) {
    const std::size_t len = std::strlen(host);
    return len > 2 && host[0] == '[' && host[len - 1] == ']' ? std::string(host + 1, len - 2)
                                                           : std::string(host);
}

}  // namespace

std::string Target::text() const {
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + service;
}

bool split_host_port(const char *word, Target &out) {
    const std::string w = word;
    std::size_t colon = std::string::npos;
    std::string host;
    if (w.starts_with("[")) {
        const std::size_t close = w.find("]:");
        colon = close == std::string::npos ? close : close + 1;
        host = close == std::string::npos ? "" : w.substr(1, close - 1);
    } else if (w.find(':') == w.rfind(':')) {
        colon = w.find(':');
        host = w.substr(0, colon);
    }
    if (colon == std::string::npos || host.empty() || colon + 1 == w.size()) {
        return false;
    }
    out = Target{host, w.substr(colon + 1)};
    return true;
}

int take_target(const std::vector<const char *> &operands, bool (*follows)(const char *word),
                Target &out, std::string &problem) {
    int took = 0;
    if (!operands.empty() && split_host_port(operands[0], out)) {
        took = 1;
    } else if (operands.size() >= 2 && (follows == nullptr || !follows(operands[1]))) {
        out = Target{without_brackets(operands[0]), operands[1]};
        took = 2;
    } else if (const char *port = std::getenv("RAZIVU_PORT");
               (follows != nullptr || operands.empty()) && port != nullptr && port[0] != '\0') {
        const char *host = std::getenv("RAZIVU_HOST");
        out = Target{host != nullptr && host[0] != '\0' ? without_brackets(host) : default_host, port};
    } else {
        problem = operands.size() == 1 && follows == nullptr
                      ? std::string("give HOST PORT, HOST:PORT or [IPV6]:PORT, not '") + operands[0] + "'"
                      : "give the server as HOST PORT, HOST:PORT or [IPV6]:PORT, or set RAZIVU_PORT";
        return -1;
    }
    return valid_service(out.service, problem) ? took : -1;
}

}  // namespace razivu_tool
