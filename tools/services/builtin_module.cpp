// The functions `razivu serve` answers without --module: Echo and the
// calendar functions, written on the interface every module has (module.h).
//
//   Echo (any fields)                   -> r 10, then every argument echoed
//   VIZIIsLeapYear (i year)             -> r 10, i 1 or 0
//   VIZIIsDateValid (i day, month, year) -> r 10, i 1 or 0
//   VIZIGetDaysSince1900 (i day, month, year)
//                                       -> r 10, i day number; r 22 alone when
//                                          the number has more than 7 digits
//   VIZIGetDMYFromDaysSince1900 (i days) -> r 10, i status (0 or -1), i day,
//                                          i month, i year (0 0 0 after -1)
//   any other name                      -> r 61 (the server's answer)
//
// A calendar function given an argument that is not an integer, or too few
// (the server says when the call has no more), is answered with r 20 alone.
// Arguments beyond its own are skipped by the server.
#include <cstdint>
#include <cstring>

#include <razivu/razivu.h>

#include "services/module.h"

namespace razivu_tool::module {
namespace {

// Integers the wire's integer field can carry: seven characters.
constexpr int32_t min_wire_integer = -999999;
constexpr int32_t max_wire_integer = 9999999;
constexpr int32_t max_arity = 3;

// Sends what is packed; 0, or -1 when a value could not be packed.
int32_t send(bool packed) {
    if (!packed) {
        return -1;
    }
    SendBuffer();
    return 0;
}

int32_t reply_code(int32_t code) {
    ResetBuffer();
    return send(PackReturnCode(code) == 0);
}

// One argument of the type tag, decoded and packed again at once: the
// reply leaves in pieces as the arguments come, whatever their number.
bool echo_one(int32_t tag) {
    int32_t number = 0;
    char *block = nullptr;
    int32_t count = 0;
    bool packed = false;
    switch (tag) {
    case 's':
        if (UnpackString(&block) == 0) {
            ResetBuffer();
            packed = PackString(block) == 0;
        }
        break;
    case 'a':
        if (UnpackByteArray(&block, &count) == 0 || count == -1) {  // -1: the null array, refused as a failure
            ResetBuffer();
            packed = PackByteArray(block, block != nullptr ? count : 0) == 0;
        }
        break;
    case 'i':
    case 'b':
    case 'r': {
        const auto decode = tag == 'i' ? UnpackInteger : tag == 'b' ? UnpackBoolean : UnpackReturnCode;
        const auto pack = tag == 'i' ? PackInteger : tag == 'b' ? PackBoolean : PackReturnCode;
        if (decode(&number) == 0) {
            ResetBuffer();
            packed = pack(number) == 0;
        }
        break;
    }
    default: break;
    }
    UnpackFree(block);
    return send(packed) == 0;
}

// A text longer than a packed field carries (a client may send 999 bytes,
// a field carries 991) fails the call rather than be cut.
int32_t echo() {
    if (reply_code(RAZIVU_OK) != 0) {
        return -1;
    }
    for (int32_t tag; (tag = razivu_server_next_argument()) > 0;) {
        if (!echo_one(tag)) {
            return -1;
        }
    }
    return 0;
}

// The reply of a calendar function to its integer arguments.
int32_t answer(const char *name, const int32_t (&a)[max_arity]) {
    ResetBuffer();
    bool packed = PackReturnCode(RAZIVU_OK) == 0;
    if (std::strcmp(name, "VIZIIsLeapYear") == 0) {
        packed = packed && PackInteger(VIZIIsLeapYear(a[0])) == 0;
    } else if (std::strcmp(name, "VIZIIsDateValid") == 0) {
        packed = packed && PackInteger(VIZIIsDateValid(a[0], a[1], a[2])) == 0;
    } else if (std::strcmp(name, "VIZIGetDaysSince1900") == 0) {
        const int32_t n = VIZIGetDaysSince1900(a[0], a[1], a[2]);
        if (n < min_wire_integer || n > max_wire_integer) {
            return reply_code(RAZIVU_E_TOO_LONG);
        }
        packed = packed && PackInteger(n) == 0;
    } else {
        int32_t d = 0;
        int32_t m = 0;
        int32_t y = 0;
        const int32_t status = VIZIGetDMYFromDaysSince1900(a[0], &d, &m, &y);
        packed = packed && PackInteger(status) == 0 && PackInteger(d) == 0 && PackInteger(m) == 0 &&
                 PackInteger(y) == 0;
    }
    return send(packed);
}

// The calendar functions by name, with the integer arguments each takes.
struct Calendar {
    const char *name;
    int32_t arity;
};
constexpr Calendar calendar[] = {
    {"VIZIIsLeapYear", 1},
    {"VIZIIsDateValid", 3},
    {"VIZIGetDaysSince1900", 3},
    {"VIZIGetDMYFromDaysSince1900", 1},
};

}  // namespace

int32_t builtin_call(const char *function) {
    if (std::strcmp(function, "Echo") == 0) {
        return echo();
    }
    for (const Calendar &c : calendar) {
        if (std::strcmp(function, c.name) != 0) {
            continue;
        }
        int32_t args[max_arity] = {};
        for (int32_t i = 0; i < c.arity; ++i) {
            if (razivu_server_next_argument() != 'i' || UnpackInteger(&args[i]) != 0) {
                return reply_code(RAZIVU_E_NOT_SUPPORTED);  // wrong at once, whatever follows
            }
        }
        return answer(c.name, args);
    }
    return RAZIVU_E_NO_FUNCTION;
}

}  // namespace razivu_tool::module
