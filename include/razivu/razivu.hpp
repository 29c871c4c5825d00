// razivu for C++20: a header-only layer over the C interface.
//
//   razivu::Connection c("127.0.0.1", 7000);         // closed when it goes
//   int32_t sum = c.call("Add", 2, 3).get<int32_t>();
//   auto [day, month, year] = c.call("Date", 36525).get<int32_t, int32_t, int32_t>();
//
//   razivu::Server server;
//   server.port(7000).function("Add", [](int32_t a, int32_t b) { return a + b; });
//   server.run();                                     // until SIGTERM, Ctrl-C or stop()
//
// Values map to fields: int32_t (and other integers in range) to integers,
// bool to booleans, std::string and const char * to strings,
// razivu::Bytes to byte arrays; std::optional of a string or byte array
// carries the null value. A failure throws razivu::Error, which holds the
// records the library pushed onto the error stack, newest first, or the
// return code the server answered.
//
// The library keeps the message buffer and the error stack per thread, so
// each thread may use connections of its own; one connection belongs to one
// thread at a time. A reply is read whole before the next call. A port
// number is named as a service of its digits, which the library takes as the
// port without a look-up.
//
// No exception crosses into the C library: a function of a Server runs
// inside a trampoline that catches everything. A function that throws
// razivu::Error with a return code (20, say) is answered with that code
// alone; any other exception fails the call, and the server closes the
// connection. Arguments of the wrong type or too few are answered with 20
// (RAZIVU_E_NOT_SUPPORTED) before the function runs.
//
// On Windows a worker is the program started again (razivu/server.h): main
// must register the same functions and reach run() again, which then serves
// the one connection handed over and returns.
#ifndef RAZIVU_RAZIVU_HPP
#define RAZIVU_RAZIVU_HPP

#include <razivu/razivu.h>

#include <chrono>
#include <concepts>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace razivu {

using Bytes = std::vector<unsigned char>;

// One record of the error stack.
struct Record {
    int32_t kind;      // RAZIVU_KIND_SYSTEM, _LIBRARY or _UNKNOWN
    int32_t code;      // errno, or a library error code
    std::string text;  // "RazIvu function UnpackInteger:  Error while transfering data"
};

class Error : public std::runtime_error {
public:
    Error(const std::string &what, int32_t code, std::vector<Record> records)
        : std::runtime_error(what), code_(code), records_(std::move(records)) {}
    // The return code the server answered, or 0 for a failure here.
    int32_t code() const noexcept { return code_; }
    // What the library pushed, newest first.
    const std::vector<Record> &records() const noexcept { return records_; }

private:
    int32_t code_;
    std::vector<Record> records_;
};

namespace detail {

// Empties the calling thread's error stack into records.
inline std::vector<Record> pop_records() {
    std::vector<Record> records;
    ErrorRecord rec{};
    while (COMPopError(&rec) != 0) {
        records.push_back(Record{rec.kind, rec.code, rec.text != nullptr ? rec.text : ""});
    }
    return records;
}

[[noreturn]] inline void fail(const std::string &what) {
    std::vector<Record> records = pop_records();
    throw Error(records.empty() ? what : what + ": " + records.front().text, 0, std::move(records));
}

// ---- Values as fields ------------------------------------------------------------------

inline bool pack(bool v) { return PackBoolean(v ? 1 : 0) == 0; }
template <std::integral T>
    requires(!std::same_as<T, bool>)
bool pack(T v) {
    return std::in_range<int32_t>(v) && PackInteger(static_cast<int32_t>(v)) == 0;
}
inline bool pack(const char *v) { return PackString(v) == 0; }
inline bool pack(const std::string &v) { return PackString(v.c_str()) == 0; }
inline bool pack(const Bytes &v) {
    return std::in_range<int32_t>(v.size()) &&
           PackByteArray(reinterpret_cast<const char *>(v.data()), static_cast<int32_t>(v.size())) == 0;
}
template <typename T>
bool pack(const std::optional<T> &v) {
    if (v) {
        return pack(*v);
    }
    return std::same_as<T, Bytes> ? PackByteArray(nullptr, 0) == 0 : PackString(nullptr) == 0;
}

// What a type is read from: its tag, and the decoder.
template <typename T>
struct Field;

template <>
struct Field<int32_t> {
    static constexpr char tag = 'i';
    static bool read(int32_t &v) { return UnpackInteger(&v) == 0; }
};
template <>
struct Field<bool> {
    static constexpr char tag = 'b';
    static bool read(bool &v) {
        int32_t n = 0;
        const bool ok = UnpackBoolean(&n) == 0;
        v = n != 0;
        return ok;
    }
};
template <>
struct Field<std::optional<std::string>> {
    static constexpr char tag = 's';
    static bool read(std::optional<std::string> &v) {
        char *text = nullptr;
        if (UnpackString(&text) != 0) {
            return false;
        }
        v = text != nullptr ? std::optional<std::string>(text) : std::nullopt;
        UnpackFree(text);
        return true;
    }
};
// A null string reads as "".
template <>
struct Field<std::string> {
    static constexpr char tag = 's';
    static bool read(std::string &v) {
        std::optional<std::string> text;
        const bool ok = Field<std::optional<std::string>>::read(text);
        v = text.value_or(std::string());
        return ok;
    }
};
// The decoder refuses the null byte array after reading it whole, with a
// count of -1: that is the null value, and its push is no failure.
template <>
struct Field<std::optional<Bytes>> {
    static constexpr char tag = 'a';
    static bool read(std::optional<Bytes> &v) {
        char *bytes = nullptr;
        int32_t count = 0;
        if (UnpackByteArray(&bytes, &count) != 0) {
            if (count != -1) {
                return false;
            }
            pop_records();
            v.reset();
            return true;
        }
        const auto *first = reinterpret_cast<const unsigned char *>(bytes);
        v = Bytes(first, first + count);
        UnpackFree(bytes);
        return true;
    }
};
// A null byte array reads as an empty one.
template <>
struct Field<Bytes> {
    static constexpr char tag = 'a';
    static bool read(Bytes &v) {
        std::optional<Bytes> bytes;
        const bool ok = Field<std::optional<Bytes>>::read(bytes);
        v = bytes.value_or(Bytes());
        return ok;
    }
};

// The parameters and result of a callable.
template <typename F>
struct Signature : Signature<decltype(&F::operator())> {};
template <typename R, typename... A>
struct Signature<R (*)(A...)> {
    using result = R;
    using arguments = std::tuple<std::remove_cvref_t<A>...>;
};
template <typename C, typename R, typename... A>
struct Signature<R (C::*)(A...)> : Signature<R (*)(A...)> {};
template <typename C, typename R, typename... A>
struct Signature<R (C::*)(A...) const> : Signature<R (*)(A...)> {};
template <typename R, typename... A>
struct Signature<R (*)(A...) noexcept> : Signature<R (*)(A...)> {};
template <typename C, typename R, typename... A>
struct Signature<R (C::*)(A...) noexcept> : Signature<R (*)(A...)> {};
template <typename C, typename R, typename... A>
struct Signature<R (C::*)(A...) const noexcept> : Signature<R (*)(A...)> {};

template <typename T>
struct IsTuple : std::false_type {};
template <typename... T>
struct IsTuple<std::tuple<T...>> : std::true_type {};

// The reply fields after the return code: none, one value, or a tuple's.
template <typename R>
bool pack_result(const R &result) {
    if constexpr (IsTuple<R>::value) {
        return std::apply([](const auto &...v) { return (pack(v) && ...); }, result);
    } else {
        return pack(result);
    }
}

inline int32_t reply_code(int32_t code) {
    ResetBuffer();
    if (PackReturnCode(code) != 0) {
        return -1;
    }
    SendBuffer();
    return 0;
}

// In a server's worker: the next argument as T, when it is one.
template <typename T>
bool argument(T &v) {
    return razivu_server_next_argument() == Field<T>::tag && Field<T>::read(v);
}

// A function of a Server, called with the worker's call: decodes the
// arguments of F's parameter types, calls f and packs what it returns.
template <typename F>
int32_t serve(F &f) {
    using S = Signature<std::remove_cvref_t<F>>;
    typename S::arguments args;
    const bool complete = std::apply([](auto &...a) { return (argument(a) && ...); }, args);
    if (!complete) {
        return reply_code(RAZIVU_E_NOT_SUPPORTED);
    }
    ResetBuffer();
    bool packed = false;
    if constexpr (std::is_void_v<typename S::result>) {
        std::apply(f, std::move(args));
        ResetBuffer();
        packed = PackReturnCode(RAZIVU_OK) == 0;
    } else {
        const auto result = std::apply(f, std::move(args));
        ResetBuffer();
        packed = PackReturnCode(RAZIVU_OK) == 0 && pack_result(result);
    }
    if (!packed) {
        return -1;  // a value the wire cannot carry: no reply cut short
    }
    SendBuffer();
    return 0;
}

}  // namespace detail

// The fields of a reply after its return code, read in order.
class Reply {
public:
    explicit Reply(std::string function) : function_(std::move(function)) {}

    // The next value; two or more as a tuple.
    template <typename T>
    T get() {
        T v{};
        if (!detail::Field<T>::read(v)) {
            detail::fail(function_ + ": the reply has no value of the type asked for");
        }
        return v;
    }
    template <typename T1, typename T2, typename... T>
    std::tuple<T1, T2, T...> get() {
        return std::tuple<T1, T2, T...>{get<T1>(), get<T2>(), get<T>()...};  // braces: in order
    }

private:
    std::string function_;
};

// A connection to a server, closed when it goes.
class Connection {
public:
    Connection(const std::string &host, const std::string &service) { open(host, service.c_str()); }
    Connection(const std::string &host, uint16_t port) { open(host, std::to_string(port).c_str()); }
    Connection(Connection &&other) noexcept : socket_(std::exchange(other.socket_, -1)) {}
    Connection &operator=(Connection &&other) noexcept {
        if (this != &other) {
            close();
            socket_ = std::exchange(other.socket_, -1);
        }
        return *this;
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    ~Connection() { close(); }

    int32_t socket() const noexcept { return socket_; }

    // Sends a call of function with args and reads the reply's return code:
    // an Error with the code when it is not RAZIVU_OK.
    template <typename... Args>
    Reply call(const std::string &function, const Args &...args) {
        SetTransport(COMSend, COMReceive, socket_);
        ResetBuffer();
        if (PackFunctionName(function.c_str()) != 0 || !(detail::pack(args) && ...)) {
            ResetBuffer();
            detail::fail(function + ": the call cannot be packed");
        }
        SendBuffer();
        ResetBuffer();
        int32_t code = 0;
        if (UnpackReturnCode(&code) != 0) {
            detail::fail(function + ": no reply");
        }
        if (code != RAZIVU_OK) {
            const char *text = COMLookupErrorText(code, RAZIVU_KIND_LIBRARY);
            throw Error(function + ": the server answered " + std::to_string(code) + " (" +
                            (text != nullptr ? text : "") + ")",
                        code, {});
        }
        return Reply(function);
    }

private:
    void open(const std::string &host, const char *service) {
        PTWSAStartup();
        socket_ = COMConnectToServerSock(host.c_str(), service);
        if (socket_ == -1) {
            detail::fail("cannot connect to " + host);
        }
    }
    void close() noexcept {
        if (socket_ != -1) {
            COMCloseSock(socket_);
            socket_ = -1;
        }
    }

    int32_t socket_ = -1;
};

// A server of functions registered by name.
class Server {
public:
    Server() : server_(razivu_server_new()) {
        if (server_ == nullptr) {
            throw std::bad_alloc();
        }
    }
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;
    ~Server() { razivu_server_free(server_); }

    Server &port(uint16_t port) { return set(RAZIVU_SERVER_PORT, port); }
    Server &service(const std::string &name) { return set_text(RAZIVU_SERVER_SERVICE, name); }
    Server &bind(const std::string &address) { return set_text(RAZIVU_SERVER_BIND, address); }
    Server &backlog(int32_t n) { return set(RAZIVU_SERVER_BACKLOG, n); }
    Server &workers(int32_t n) { return set(RAZIVU_SERVER_WORKERS, n); }
    Server &per_address(int32_t n) { return set(RAZIVU_SERVER_PER_ADDRESS, n); }
    Server &call_time(std::chrono::milliseconds t) { return set(RAZIVU_SERVER_CALL_MS, milliseconds(t)); }
    Server &idle_time(std::chrono::milliseconds t) { return set(RAZIVU_SERVER_IDLE_MS, milliseconds(t)); }
    Server &quiet(bool on = true) { return set(RAZIVU_SERVER_QUIET, on ? 1 : 0); }
    Server &from_inetd(bool on = true) {
        return set(RAZIVU_SERVER_SOCKET_FROM, on ? RAZIVU_SERVER_FROM_INETD : RAZIVU_SERVER_FROM_SYSTEMD);
    }
    Server &name(const std::string &text) { return set_text(RAZIVU_SERVER_NAME, text); }

    // f takes the call's arguments as parameters and returns nothing, a
    // value or a std::tuple of values, the reply after r 10.
    template <typename F>
    Server &function(const std::string &name, F f) {
        functions_.insert_or_assign(name, [f = std::move(f)]() mutable { return detail::serve(f); });
        return *this;
    }

    // Serves until a stop; an Error with the result's code when the server
    // cannot start (standard error says why).
    void run() {
        const int32_t rc = razivu_server_run(server_, dispatch, this);
        if (rc != RAZIVU_SERVER_OK) {
            throw Error("the server cannot run (result " + std::to_string(rc) + ")", rc, {});
        }
    }
    // From any thread, or a signal handler.
    void stop() noexcept { razivu_server_stop(server_); }
    // The port it listens on, 0 while it does not.
    uint16_t listening_port() const noexcept { return static_cast<uint16_t>(razivu_server_port(server_)); }

private:
    Server &set(int32_t option, int32_t value) {
        if (razivu_server_set_number(server_, option, value) != RAZIVU_SERVER_OK) {
            throw std::invalid_argument("razivu::Server: value out of range: " + std::to_string(value));
        }
        return *this;
    }
    Server &set_text(int32_t option, const std::string &value) {
        if (razivu_server_set_text(server_, option, value.c_str()) != RAZIVU_SERVER_OK) {
            throw std::invalid_argument("razivu::Server: value not taken: " + value);
        }
        return *this;
    }
    static int32_t milliseconds(std::chrono::milliseconds t) {
        return static_cast<int32_t>(std::min<std::chrono::milliseconds::rep>(t.count(), INT32_MAX));
    }

    // The trampoline the C library calls: nothing escapes it.
    static int32_t dispatch(const char *function, void *self) noexcept {
        try {
            auto &functions = static_cast<Server *>(self)->functions_;
            const auto it = functions.find(std::string_view(function));
            return it != functions.end() ? it->second() : RAZIVU_E_NO_FUNCTION;
        } catch (const Error &e) {
            return e.code() > 0 ? detail::reply_code(e.code()) : -1;
        } catch (...) {
            return -1;
        }
    }

    RazivuServer *server_;
    std::map<std::string, std::function<int32_t()>, std::less<>> functions_;
};

}  // namespace razivu

#endif
