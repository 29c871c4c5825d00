// The server's C interface (razivu/server.h): a handle of options, checked as
// they are set, over server::run.
#include <atomic>
#include <cstdint>
#include <string>

#include "diagnostics/boundary.h"
#include "platform/serving.h"
#include "razivu/server.h"
#include "server/board.h"
#include "server/server.h"

struct RazivuServer {
    razivu::server::Config config;           // numbers set; texts point into the strings below
    std::string service;                     // RAZIVU_SERVER_SERVICE
    std::string bind;                        // RAZIVU_SERVER_BIND
    std::string name;                        // RAZIVU_SERVER_NAME
    std::atomic<int32_t> stops{0};           // razivu_server_stop calls not yet served by a run
    std::atomic<int32_t> port{0};            // where it listens
};

namespace {

namespace server = razivu::server;

constexpr int32_t max_port = 65535;
constexpr int32_t max_backlog = 65535;
constexpr auto max_workers = static_cast<int32_t>(server::board::max_slots);

// A number option: its field and range.
struct NumberOption {
    int32_t option;
    int32_t server::Config::*field;
    int32_t min;
    int32_t max;
};

constexpr NumberOption number_options[] = {
    {RAZIVU_SERVER_PORT, &server::Config::port, 0, max_port},
    {RAZIVU_SERVER_BACKLOG, &server::Config::backlog, 1, max_backlog},
    {RAZIVU_SERVER_WORKERS, &server::Config::workers, 1, max_workers},
    {RAZIVU_SERVER_PER_ADDRESS, &server::Config::per_address, 1, max_workers},
    {RAZIVU_SERVER_CALL_MS, &server::Config::call_ms, 1, INT32_MAX},
    {RAZIVU_SERVER_IDLE_MS, &server::Config::idle_ms, 1, INT32_MAX},
};

// Options of two values, kept as flags.
int32_t set_flag(RazivuServer &s, int32_t option, int32_t value) {
    if (value != 0 && value != 1) {
        return RAZIVU_SERVER_E_VALUE;
    }
    (option == RAZIVU_SERVER_QUIET ? s.config.quiet : s.config.inetd) = value == 1;
    return RAZIVU_SERVER_OK;
}

// The text options: where each is kept and where the config points to it.
struct TextOption {
    int32_t option;
    std::string RazivuServer::*text;
    const char *server::Config::*field;
};

constexpr TextOption text_options[] = {
    {RAZIVU_SERVER_SERVICE, &RazivuServer::service, &server::Config::service},
    {RAZIVU_SERVER_BIND, &RazivuServer::bind, &server::Config::bind},
    {RAZIVU_SERVER_NAME, &RazivuServer::name, &server::Config::name},
};

bool valid_text(int32_t option, const char *value) {
    uint32_t addr = 0;
    return option == RAZIVU_SERVER_BIND ? razivu::platform::net::parse_ipv4(value, addr) : value[0] != '\0';
}

int32_t result_of(server::Outcome outcome) {
    switch (outcome) {
    case server::Outcome::ended: return RAZIVU_SERVER_OK;
    case server::Outcome::failed: return RAZIVU_SERVER_E_FAILED;
    case server::Outcome::unknown_service: return RAZIVU_SERVER_E_NO_SERVICE;
    case server::Outcome::socket_twice: return RAZIVU_SERVER_E_SOCKET_TWICE;
    case server::Outcome::no_socket: return RAZIVU_SERVER_E_NO_SOCKET;
    case server::Outcome::busy: return RAZIVU_SERVER_E_BUSY;
    }
    return RAZIVU_SERVER_E_FAILED;
}

}  // namespace

extern "C" {

RAZIVU_API RazivuServer *razivu_server_new(void) try {
    return new RazivuServer;
} RAZIVU_CATCH(nullptr, nullptr)

RAZIVU_API void razivu_server_free(RazivuServer *server) try {
    delete server;
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API int32_t razivu_server_set_number(RazivuServer *server, int32_t option, int32_t value) try {
    if (server == nullptr) {
        return RAZIVU_SERVER_E_OPTION;
    }
    if (option == RAZIVU_SERVER_QUIET || option == RAZIVU_SERVER_SOCKET_FROM) {
        return set_flag(*server, option, value);
    }
    for (const NumberOption &o : number_options) {
        if (o.option == option) {
            if (value < o.min || value > o.max) {
                return RAZIVU_SERVER_E_VALUE;
            }
            server->config.*o.field = value;
            return RAZIVU_SERVER_OK;
        }
    }
    return RAZIVU_SERVER_E_OPTION;
} RAZIVU_CATCH(RAZIVU_SERVER_E_FAILED, nullptr)

RAZIVU_API int32_t razivu_server_set_text(RazivuServer *server, int32_t option, const char *value) try {
    for (const TextOption &o : text_options) {
        if (server == nullptr || o.option != option) {
            continue;
        }
        if (value != nullptr && !valid_text(option, value)) {
            return RAZIVU_SERVER_E_VALUE;
        }
        (server->*o.text).assign(value != nullptr ? value : "");
        server->config.*o.field = value != nullptr ? (server->*o.text).c_str() : nullptr;
        return RAZIVU_SERVER_OK;
    }
    return RAZIVU_SERVER_E_OPTION;
} RAZIVU_CATCH(RAZIVU_SERVER_E_FAILED, nullptr)

// A run serves the stops asked for before it and while it ran; the next
// run starts with none.
RAZIVU_API int32_t razivu_server_run(RazivuServer *server, RazivuCallHandler handler, void *user_data) try {
    if (server == nullptr || handler == nullptr) {
        return RAZIVU_SERVER_E_OPTION;
    }
    server::Config config = server->config;
    config.handler = server::Handler{handler, user_data};
    config.stops = &server->stops;
    config.port_out = &server->port;
    const int32_t rc = result_of(server::run(config));
    if (rc != RAZIVU_SERVER_E_BUSY) {
        server->stops = 0;
    }
    return rc;
} RAZIVU_CATCH(RAZIVU_SERVER_E_FAILED, nullptr)

RAZIVU_API int32_t razivu_server_stop(RazivuServer *server) try {
    if (server == nullptr) {
        return RAZIVU_SERVER_E_OPTION;
    }
    ++server->stops;
    razivu::platform::workers::wake();
    return RAZIVU_SERVER_OK;
} RAZIVU_CATCH(RAZIVU_SERVER_E_FAILED, nullptr)

RAZIVU_API int32_t razivu_server_port(const RazivuServer *server) try {
    return server != nullptr ? server->port.load() : 0;
} RAZIVU_CATCH(0, nullptr)

RAZIVU_API int32_t razivu_server_next_argument(void) try {
    return server::argument_type();
} RAZIVU_CATCH(-1, nullptr)

}  // extern "C"
