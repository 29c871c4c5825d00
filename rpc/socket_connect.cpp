// Client connections: the service name and default port, the service and
// host look-ups, and the connect itself.
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "diagnostics/boundary.h"
#include "platform/platform.h"
#include "platform/threads.h"
#include "razivu/diagnostics.h"
#include "rpc/transport_internal.h"
#include "razivu/transport.h"

namespace {

namespace platform = razivu::platform;
namespace transport = razivu::transport;

constexpr const char *connect_name = "COMConnectToServerSock";
// The 24-character ctime text, its newline and the terminator, with room to spare.
constexpr std::size_t time_text_cap = 32;

// Process-wide client state, read and changed under the lock; the resolver
// is asked without it.
struct Client {
    platform::Lock lock;
    // Set by COMSetServiceName. One buffer that never moves: callers keep the
    // pointer COMGetServiceName gives and may write through it.
    char service[transport::service_name_cap] = {};
    // The last name set did not fit: the buffer is empty, and a look-up of it
    // is refused as the look-up of the long name would be.
    bool service_too_long = false;
    std::atomic<int16_t> default_port{0};  // network byte order; 0 means none
    // The last host resolved; empty when none is remembered.
    char host[transport::host_name_cap] = {};
    platform::Ipv4Endpoint server;  // its address; the port changes with every connect
};
Client client;

const char *shown(const char *text) {
    return text != nullptr ? text : "(null)";
}

bool fits(const char *name, std::size_t cap) {
    return name != nullptr && std::strlen(name) < cap;
}

// A service given as a port number: 1 to 5 decimal digits, 1 to 65535. No
// services database has such a name (a service name holds a letter), so
// looking it up could only fail and push its failure for nothing.
bool numeric_port(const char *service, uint16_t &port_out) {
    constexpr std::size_t max_digits = 5;
    constexpr unsigned long max_port = 65535;
    const std::size_t digits = service != nullptr ? std::strspn(service, "0123456789") : 0;
    if (digits == 0 || digits > max_digits || service[digits] != '\0') {
        return false;
    }
    const unsigned long port = std::strtoul(service, nullptr, 10);
    if (port == 0 || port > max_port) {
        return false;
    }
    port_out = platform::host_to_net16(static_cast<uint16_t>(port));
    return true;
}

// The system's entry for a service; a name of 50 or more characters is not
// looked up, so that it can never match a shorter name.
const ::servent *find_service(const char *service, const char *protocol) {
    bool refused_name = false;
    {
        platform::Locked held(client.lock);
        refused_name = service == client.service && client.service_too_long;
    }
    if (refused_name || (service != nullptr && !fits(service, transport::service_name_cap))) {
        platform::set_errno(ENAMETOOLONG);
        return nullptr;
    }
    return platform::net_calls().service_by_name(service, protocol);
}

// Resolves host into the remembered host unless it is remembered already.
// A host that is missing, empty, too long to remember whole or unknown to the
// resolver is not found: pushes code 1, traces the host warning, forgets the
// remembered host and returns false.
bool resolve_host(const char *host, platform::Ipv4Endpoint &server_out) {
    {
        platform::Locked held(client.lock);
        if (client.host[0] != '\0' && host != nullptr && std::strcmp(client.host, host) == 0) {
            server_out = client.server;
            return true;
        }
    }
    uint32_t addr = 0;
    const bool found = host != nullptr && host[0] != '\0' && fits(host, transport::host_name_cap) &&
                       platform::net_calls().host_address(host, &addr) == 0;
    {
        platform::Locked held(client.lock);
        if (found) {
            std::strcpy(client.host, host);
            client.server = server_out = platform::Ipv4Endpoint{addr, 0};
        } else {
            client.host[0] = '\0';
        }
    }
    if (found) {
        return true;
    }
    COMPushError(connect_name, RAZIVU_E_UNKNOWN_HOST);
    COMTrace("Warning (%s): Host %s not found in /etc/hosts. \nPlease add it and try again.\n",
             connect_name, shown(host));
    return false;
}

// After the push and the trace of a failed step: the new socket goes again.
int32_t close_failed(int32_t s) {
    COMCloseSock(s);
    return -1;
}

void trace_connected(const char *host, const platform::Ipv4Endpoint &local) {
    char when[time_text_cap] = {};
    platform::ctime_text(platform::now(), when, sizeof when);
    COMTrace("connected to %s on port %u at %s\n", shown(host),
             static_cast<unsigned>(platform::net_to_host16(local.port)), when);
}

}  // namespace

extern "C" {

// A name that does not fit is never cut into another name: the buffer is
// emptied and the look-up of it fails with ENAMETOOLONG.
RAZIVU_API void COMSetServiceName(const char *name) try {
    razivu::platform::Locked held(client.lock);
    const char *given = name != nullptr ? name : "";
    client.service_too_long = !fits(given, transport::service_name_cap);
    const char *kept = client.service_too_long ? "" : given;
    // The caller may pass the buffer itself back.
    std::memmove(client.service, kept, std::strlen(kept) + 1);
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API char *COMGetServiceName(void) try {
    return client.service;
} RAZIVU_CATCH(nullptr, nullptr)

RAZIVU_API void COMSetDefaultPort(int16_t port) try {
    client.default_port = port;
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API int16_t COMGetDefaultPort(void) try {
    return client.default_port;
} RAZIVU_CATCH(0, nullptr)

// A found service's port comes back as the system gives it, in network
// order; 65535 therefore reads as -1, which callers take as not found. A
// port number given as the service is that port, with nothing pushed.
RAZIVU_API int16_t COMGetPortByName(const char *service, const char *protocol) try {
    if (uint16_t port = 0; numeric_port(service, port)) {
        return static_cast<int16_t>(port);
    }
    if (const ::servent *entry = find_service(service, protocol); entry != nullptr) {
        return static_cast<int16_t>(platform::service_port(entry));
    }
    COMPushSysError("COMGetPortByName");
    COMPushError("COMGetPortByName", RAZIVU_E_NO_SERVICE_ENTRY);
    COMTrace("Warning (%s): Servive %s not found in /etc/services\n", "COMGetPortByName",
             shown(service));
    const int16_t fallback = client.default_port;
    return fallback != 0 ? fallback : transport::no_port;
} RAZIVU_CATCH(transport::no_port, "COMGetPortByName")

RAZIVU_API int32_t COMConnectToServerSock(const char *host, const char *service) try {
    platform::Ipv4Endpoint server;
    if (PTWSAStartup() != 0 || !resolve_host(host, server)) {
        return -1;
    }
    const int16_t port = COMGetPortByName(service, "tcp");
    if (port == transport::no_port) {
        COMPushSysError(connect_name);
        COMPushError(connect_name, RAZIVU_E_NO_SERVICE_ENTRY);
        return -1;
    }
    server.port = static_cast<uint16_t>(port);
    const platform::NetCalls &calls = platform::net_calls();
    const int32_t s = calls.open_tcp();
    if (s == platform::invalid_socket) {
        COMPushSysError(connect_name);
        COMTrace("   %s: unable to create socket\n", connect_name);
        return -1;
    }
    transport::adopt(s);
    if (transport::retry_interrupted([&] { return calls.connect(s, &server); }) != 0) {
        COMPushSysError(connect_name);
        COMTrace("   %s: unable to connect to remote %s\n", connect_name, shown(host));
        return close_failed(s);
    }
    platform::Ipv4Endpoint local;
    if (calls.local_endpoint(s, &local) != 0) {
        COMPushSysError(connect_name);
        COMTrace("   %s: unable to read socket address\n", connect_name);
        return close_failed(s);
    }
    transport::tune_connection(s);
    trace_connected(host, local);
    return s;
} RAZIVU_CATCH(-1, connect_name)

}  // extern "C"
