// The functions of `razivu serve`: Echo and the calendar functions.
#include "server/serve_calls.h"

namespace razivu_tool::serve {
namespace {

// Integers the wire's integer field can carry: seven characters.
constexpr int32_t min_wire_integer = -999999;
constexpr int32_t max_wire_integer = 9999999;

Field code(int32_t value) {
    return Field{Kind::return_code, value, {}, false};
}

Field integer(int32_t value) {
    return Field{Kind::integer, value, {}, false};
}

}  // namespace

Call::Call(const std::string &name) {
    // The calendar functions by name, with the integer arguments each takes.
    struct Entry {
        const char *name;
        std::size_t arity;
        Fn fn;
    };
    static constexpr Entry calendar[] = {
        {"VIZIIsLeapYear", 1, Fn::leap_year},
        {"VIZIIsDateValid", 3, Fn::date_valid},
        {"VIZIGetDaysSince1900", 3, Fn::days},
        {"VIZIGetDMYFromDaysSince1900", 1, Fn::dmy},
    };
    for (const Entry &e : calendar) {
        if (name == e.name) {
            fn_ = e.fn;
            arity_ = e.arity;
            return;
        }
    }
    fn_ = name == "Echo" ? Fn::echo : Fn::unknown;
    reply_.push_back(code(fn_ == Fn::echo ? RAZIVU_OK : RAZIVU_E_NO_FUNCTION));
}

void Call::add(const Field &argument) {
    if (fn_ == Fn::echo) {
        reply_.push_back(argument);
        return;
    }
    if (!awaiting()) {
        return;
    }
    if (argument.kind != Kind::integer) {
        finish();  // wrong at once, whatever follows
        return;
    }
    args_.push_back(argument);
    if (args_.size() == arity_) {
        answer();
    }
}

void Call::finish() {
    if (awaiting()) {
        answered_ = true;
        reply_.push_back(code(RAZIVU_E_NOT_SUPPORTED));
    }
}

bool Call::awaiting() const {
    return fn_ != Fn::echo && fn_ != Fn::unknown && !answered_;
}

void Call::respond(std::initializer_list<Field> fields) {
    reply_.insert(reply_.end(), fields);
}

void Call::answer() {
    answered_ = true;
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
