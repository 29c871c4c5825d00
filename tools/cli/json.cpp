#include "cli/json.h"

#include "cli/escape.h"

namespace razivu_tool {

JsonObject &JsonObject::member(const char *key, std::string_view json) {
    body_ += body_.empty() ? "" : ",";
    body_ += json_string(key);
    body_ += ':';
    body_ += json;
    return *this;
}

JsonObject &JsonObject::text(const char *key, std::string_view value) {
    return member(key, json_string(value));
}

JsonObject &JsonObject::number(const char *key, int64_t value) {
    return member(key, std::to_string(value));
}

JsonObject &JsonObject::boolean(const char *key, bool value) {
    return member(key, value ? "true" : "false");
}

JsonObject &JsonObject::raw(const char *key, std::string_view json) {
    return member(key, json);
}

JsonObject &JsonObject::merge(const JsonObject &other) {
    body_ += body_.empty() || other.body_.empty() ? "" : ",";
    body_ += other.body_;
    return *this;
}

std::string json_array(const std::vector<std::string> &values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        out += (i > 0 ? "," : "") + values[i];
    }
    return out + "]";
}

}  // namespace razivu_tool
