#include "client/field_print.h"

#include <algorithm>

#include <razivu/razivu.h>

#include "cli/escape.h"

namespace razivu_tool {
namespace {

constexpr std::size_t bytes_per_line = 64;

bool is_text(Kind kind) {
    return kind == Kind::string || kind == Kind::function;
}

const char *code_text(int32_t code) {
    return COMLookupErrorText(code, RAZIVU_KIND_LIBRARY);
}

}  // namespace

std::string quoted(std::string_view bytes) {
    return shown(bytes, Encoding::utf8, true);
}

const char *kind_name(Kind kind) {
    switch (kind) {
    case Kind::function: return "function";
    case Kind::return_code: return "return";
    case Kind::string: return "string";
    case Kind::integer: return "integer";
    case Kind::boolean: return "boolean";
    case Kind::bytes: return "bytes";
    }
    return "?";
}

std::string field_text(const Field &f, Encoding encoding) {
    char kind[16];
    std::snprintf(kind, sizeof kind, "%-8s ", kind_name(f.kind));
    std::string out = kind;
    if (f.null) {
        return out + "null";
    }
    if (is_text(f.kind)) {
        return out + shown(f.data, encoding, true);
    }
    if (f.kind == Kind::bytes) {
        return out + hex(f.data) + " (" + std::to_string(f.data.size()) + " bytes)";
    }
    out += std::to_string(f.number);
    return f.kind == Kind::return_code ? out + " (" + code_text(f.number) + ")" : out;
}

void print(std::FILE *out, const Field &f, Encoding encoding) {
    std::fprintf(out, "%s\n", field_text(f, encoding).c_str());
}

std::string field_json(const Field &f, uint64_t offset, Encoding encoding) {
    std::string out = "{\"offset\":" + std::to_string(offset) + ",\"kind\":\"" + kind_name(f.kind) +
                      "\",\"value\":";
    if (f.null) {
        out += "null";
    } else if (is_text(f.kind)) {
        out += json_string(decoded(f.data, encoding)) + ",\"hex\":\"" + hex(f.data) + "\"";
    } else if (f.kind == Kind::bytes) {
        out += '"';
        out += hex(f.data);
        out += "\",\"length\":" + std::to_string(f.data.size());
    } else {
        out += std::to_string(f.number);
    }
    if (f.kind == Kind::return_code) {
        out += ",\"text\":" + json_string(code_text(f.number));
    }
    return out + "}";
}

void print_bytes(std::FILE *out, char direction, uint64_t offset, std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size(); at += bytes_per_line) {
        const std::string_view line = bytes.substr(at, std::min(bytes_per_line, bytes.size() - at));
        std::fprintf(out, "%c %-8llu %s\n", direction, static_cast<unsigned long long>(offset + at),
                     shown_ascii(line).c_str());
    }
}

void FieldsDocument::add(const Field &field, uint64_t offset) {
    if (!begun_) {
        std::fprintf(out_, "{%s\"fields\":[\n", head_.c_str());
        begun_ = true;
    }
    std::fprintf(out_, "%s%s", any_ ? ",\n" : "", field_json(field, offset, encoding_).c_str());
    any_ = true;
}

void FieldsDocument::close(const std::string &tail) {
    if (!begun_) {
        std::fputs(closed_text(tail).c_str(), out_);
        return;
    }
    std::fprintf(out_, "%s],%s}\n", any_ ? "\n" : "", tail.c_str());
}

std::string FieldsDocument::closed_text(const std::string &tail) const {
    return "{" + head_ + "\"fields\":[\n]," + tail + "}\n";
}

}  // namespace razivu_tool
