// The functions `razivu serve` answers, and the replies they give.
//
// A call is a function-name field and its argument fields. The server never
// needs to know in advance how many arguments follow: a call ends where the
// next function-name field begins (or the connection ends), and each reply
// field is produced as soon as the argument it depends on has arrived.
//
//   Echo (any fields)                   -> r 10, then every argument echoed
//   VIZIIsLeapYear (i year)             -> r 10, i 1 or 0
//   VIZIIsDateValid (i day, month, year) -> r 10, i 1 or 0
//   VIZIGetDaysSince1900 (i day, month, year)
//                                       -> r 10, i day number; r 22 alone when
//                                          the number has more than 7 digits
//   VIZIGetDMYFromDaysSince1900 (i days) -> r 10, i status (0 or -1), i day,
//                                          i month, i year (0 0 0 after -1)
//   any other name                      -> r 61; its arguments are ignored
//
// A calendar function given an argument that is not an integer is answered
// with r 20 alone at once; one whose arguments stop short is answered so when
// the next call begins, the client closes its side, or the connection falls
// quiet (see awaiting()). Arguments beyond its own are ignored.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "common/fields.h"

namespace razivu_tool::serve {

class Call {
public:
    // Starts a call of the named function; the first reply fields may be
    // ready at once (Echo's and an unknown function's return code).
    explicit Call(const std::string &name);
    // One argument field of the call.
    void add(const Field &argument);
    // The next call began, the connection ended, or the client fell quiet
    // while arguments were still missing.
    void finish();
    // True while a calendar function waits for arguments it needs.
    bool awaiting() const;
    // Reply fields ready to be sent, in order; the caller empties it.
    std::vector<Field> &reply() { return reply_; }

private:
    enum class Fn { echo, leap_year, date_valid, days, dmy, unknown };

    void answer();
    void respond(std::initializer_list<Field> fields);

    Fn fn_ = Fn::unknown;
    std::size_t arity_ = 0;      // integer arguments a calendar function takes
    std::vector<Field> args_;    // the arguments of a calendar function so far
    bool answered_ = false;      // the reply of a calendar function is out
    std::vector<Field> reply_;
};

}  // namespace razivu_tool::serve
