// Wire fields as the tool handles them: packed, and decoded with the type tag
// looked at first. The clients, the tests and the fuzz targets share this
// model; it knows nothing of the command line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include <razivu/razivu.h>

namespace razivu_tool {

// Length of a field header on the wire: tag, five-character slot, "|".
constexpr int32_t field_header_len = 7;

enum class Kind { function, return_code, string, integer, boolean, bytes };

struct Field {
    Kind kind = Kind::integer;
    int32_t number = 0;  // integer, boolean and return code
    std::string data;    // function name, string text, byte array bytes
    bool null = false;   // a null string or byte array
};

// Packs the field with the public packer of its kind: 0, or -1 when the
// message layer refused the value (it has then pushed why).
int32_t pack(const Field &field);

// True for the tag of a field kind ("#", "s", "i", "b", "r", "a").
bool is_type_tag(char tag);

// Decodes one field whose type tag is already known, with the decoder of
// that kind reading through the message layer's receive slot (so starting
// with the field's header). A null byte array, which the decoder reports as
// a failure after consuming its whole header, is taken as the null value and
// its push removed. Returns false for an unknown tag or a failed decoder.
bool decode(char tag, Field &out);

// Decodes the next field: reads its header through receive(handle, ...),
// looks at the tag, then lets decode() read the header again from a copy and
// the rest through receive. The receive slot is receive afterwards. closed
// means that not a byte of a header came (the end of the bytes).
enum class ReadResult { field, closed, failed };
ReadResult read_field(RazivuTransportFn receive, int32_t handle, Field &out);
// The same from a connection, through COMReceive.
ReadResult read_field(int32_t socket, Field &out);
// The same from bytes held in memory; taken_out is how many the decoder read.
ReadResult read_field(std::string_view bytes, Field &out, std::size_t &taken_out);
// The header read_field read last, for a message about a field that failed.
std::string last_header();

// The number of bytes the decoder of a field with this header reads,
// header included: 7 for a return code or a null value, 7 + length + 1
// for a field with data, and 7 for a length no decoder takes (it refuses
// the field after its header). The length slot is read by the library's own
// decoder. False, with nothing pushed, for a header that is not one (no
// separator).
bool field_size(const char *header, int32_t &size_out);

// A send function that drops everything: packing with it checks that every
// value is one the message layer accepts.
int32_t discard_send(int32_t socket, char *buffer, int32_t count);

// Empties the error stack: for pushes that are no news to the user, or whose
// cause the caller has already taken.
void drop_errors();

}  // namespace razivu_tool
