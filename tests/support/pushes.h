// The error stack read back in push order, as the tests compare it.
#pragma once

#include <string>
#include <vector>

#include <razivu/diagnostics.h>

namespace razivu::test {

struct Record {
    int32_t kind;
    int32_t code;
    std::string text;
    bool operator==(const Record &) const = default;
};

// Empties the error stack; returns its records in push order.
inline std::vector<Record> pop_all() {
    std::vector<Record> out;
    for (ErrorRecord rec{}; COMPopError(&rec) != 0;) {
        out.insert(out.begin(), Record{rec.kind, rec.code, rec.text});
    }
    return out;
}

// "sys F" for a system error of function F, "CODE F" otherwise, in push order.
inline std::vector<std::string> describe(const std::vector<Record> &records) {
    std::vector<std::string> out;
    for (const Record &r : records) {
        const std::size_t at = r.text.find("function ") + 9;
        out.push_back((r.kind == RAZIVU_KIND_SYSTEM ? std::string("sys") : std::to_string(r.code)) +
                      " " + r.text.substr(at, r.text.find(':', at) - at));
    }
    return out;
}

inline std::vector<std::string> pushes() { return describe(pop_all()); }

// The codes of the records in push order, which empties the stack.
inline std::vector<int32_t> popped_codes() {
    std::vector<int32_t> codes;
    for (const Record &r : pop_all()) {
        codes.push_back(r.code);
    }
    return codes;
}

}  // namespace razivu::test
