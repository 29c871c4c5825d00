// The functions of `razivu serve`: Echo and the calendar functions.
#include "serve_calls.h"

namespace razivu_tool::serve {
namespace {

// Integers the wire's integer field can carry: seven characters.
constexpr int32_t min_wire_integer = -999999;
constexpr int32_t max_wire_integer = 9999999;

struct Signature {
    const char *name;
    std::size_t arity;  // integer arguments
};

constexpr Signature leap_year{"VIZIIsLeapYear", 1};
constexpr Signature date_valid{"VIZIIsDateValid", 3};
constexpr Signature days{"VIZIGetDaysSince1900", 3};
constexpr Signature dmy{"VIZIGetDMYFromDaysSince1900", 1};

Field code(int32_t value) {
    return Field{Kind::return_code, value, {}, false};
}

Field integer(int32_t value) {
    return Field{Kind::integer, value, {}, false};
}

}  // namespace

Call::Call(const std::string &name) {
    if (name == "Echo") {
        fn_ = Fn::echo;
        reply_.push_back(code(RAZIVU_OK));
    } else if (name == leap_year.name) {
        fn_ = Fn::leap_year;
    } else if (name == date_valid.name) {
        fn_ = Fn::date_valid;
    } else if (name == days.name) {
        fn_ = Fn::days;
    } else if (name == dmy.name) {
        fn_ = Fn::dmy;
    } else {
        fn_ = Fn::unknown;
        reply_.push_back(code(RAZIVU_E_NO_FUNCTION));
    }
}

void Call::add(const Field &argument) {
    if (fn_ == Fn::echo) {
        reply_.push_back(argument);
        return;
    }
    if (fn_ == Fn::unknown || answered_) {
        return;
    }
    args_.push_back(argument);
    const std::size_t arity =
        fn_ == Fn::leap_year ? leap_year.arity
        : fn_ == Fn::date_valid ? date_valid.arity
        : fn_ == Fn::days ? days.arity
                          : dmy.arity;
    if (args_.size() == arity) {
        answer();
    }
}

void Call::finish() {
    if (fn_ != Fn::echo && fn_ != Fn::unknown && !answered_) {
        answered_ = true;
        reply_.push_back(code(RAZIVU_E_NOT_SUPPORTED));
    }
}

void Call::respond(std::initializer_list<Field> fields) {
    reply_.insert(reply_.end(), fields);
}

void Call::answer() {
    answered_ = true;
    for (const Field &a : args_) {
        if (a.kind != Kind::integer) {
            reply_.push_back(code(RAZIVU_E_NOT_SUPPORTED));
            return;
        }
    }
    const int32_t a0 = args_[0].number;
    switch (fn_) {
    case Fn::leap_year:
        respond({code(RAZIVU_OK), integer(VIZIIsLeapYear(a0))});
        break;
    case Fn::date_valid:
        respond({code(RAZIVU_OK), integer(VIZIIsDateValid(a0, args_[1].number, args_[2].number))});
        break;
    case Fn::days: {
        const int32_t n = VIZIGetDaysSince1900(a0, args_[1].number, args_[2].number);
        if (n < min_wire_integer || n > max_wire_integer) {
            respond({code(RAZIVU_E_TOO_LONG)});
        } else {
            respond({code(RAZIVU_OK), integer(n)});
        }
        break;
    }
    case Fn::dmy: {
        int32_t d = 0;
        int32_t m = 0;
        int32_t y = 0;
        const int32_t status = VIZIGetDMYFromDaysSince1900(a0, &d, &m, &y);
        respond({code(RAZIVU_OK), integer(status), integer(d), integer(m), integer(y)});
        break;
    }
    case Fn::echo:
    case Fn::unknown:
        break;
    }
}

}  // namespace razivu_tool::serve
