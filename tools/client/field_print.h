// How the tool shows fields and raw wire bytes, as text and as JSON.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "cli/escape.h"
#include "common/fields.h"

namespace razivu_tool {

// "function", "return", "string", "integer", "boolean", "bytes".
const char *kind_name(Kind kind);

// "kind     value": texts quoted, read in encoding with escapes for what a
// terminal must not see (escape.h), byte arrays as hex with their count,
// null values as null, return codes with the library's text.
std::string field_text(const Field &field, Encoding encoding);
// Wire bytes in double quotes, read as UTF-8, with escapes.
std::string quoted(std::string_view bytes);

// field_text and a newline.
void print(std::FILE *out, const Field &field, Encoding encoding);

// {"offset":N,"kind":"string","value":"abc","hex":"616263"}: a text's value
// is its characters in encoding and "hex" its bytes; a byte array has its
// bytes in hex as "value" and their "length"; a return code adds its "text";
// a null value has "value":null.
std::string field_json(const Field &field, uint64_t offset, Encoding encoding);

// Raw bytes as `call -v` and `proxy` show them: lines of at most 64 bytes,
// each "D OFFSET  text" with direction D, the stream offset of its first
// byte, and \xNN for every byte that is not printable.
void print_bytes(std::FILE *out, char direction, uint64_t offset, std::string_view bytes);

// A JSON document {HEAD"fields":[...],TAIL} whose fields are written as
// they are decoded, so that no reply or capture is held whole.
class FieldsDocument {
public:
    // head: members before "fields", each followed by a comma.
    FieldsDocument(std::FILE *out, std::string head, Encoding encoding)
        : out_(out), head_(std::move(head)), encoding_(encoding) {}
    void add(const Field &field, uint64_t offset);
    // Ends the array and the document with the members of tail.
    void close(const std::string &tail);
    // The whole document as close(tail) would write it, while nothing is
    // written yet.
    std::string closed_text(const std::string &tail) const;

private:
    std::FILE *out_;
    std::string head_;
    Encoding encoding_;
    bool begun_ = false;  // the head and "fields":[ are out
    bool any_ = false;    // a field is out
};

}  // namespace razivu_tool
