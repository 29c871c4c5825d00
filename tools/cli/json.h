// A JSON object built member by member, for the --json output of every
// command: {"code":61,"text":"..."}. Texts go through json_string (escape.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace razivu_tool {

class JsonObject {
public:
    JsonObject &text(const char *key, std::string_view value);
    JsonObject &number(const char *key, int64_t value);
    JsonObject &boolean(const char *key, bool value);
    // A value that is JSON already: an object, an array, null.
    JsonObject &raw(const char *key, std::string_view json);
    // The members of other after these.
    JsonObject &merge(const JsonObject &other);
    std::string str() const { return "{" + body_ + "}"; }

private:
    JsonObject &member(const char *key, std::string_view json);
    std::string body_;
};

// "[a,b]" of values that are JSON already.
std::string json_array(const std::vector<std::string> &values);

}  // namespace razivu_tool
