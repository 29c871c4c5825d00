// The decoders: each reads one field straight from the receive slot, the
// 7-byte header first and then exactly the announced data and separator, so
// nothing of the next field is ever consumed. A length that the buffer or the
// value cannot hold is refused before any data are read.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "diagnostics/boundary.h"
#include "razivu/diagnostics.h"
#include "rpc/message_internal.h"
#include "razivu/message.h"

namespace {

namespace msg = razivu::message;

void *heap_allocate(std::size_t n) {
    return std::malloc(n);
}

// Process-wide state of the decoders.
struct Decoding {
    std::atomic<msg::Allocate> allocate{heap_allocate};  // source of decoded blocks; a test may make it fail
};
Decoding decoding;

constexpr const char *header_step = "unpack_header";
constexpr const char *string_step = "unpack_string";
constexpr const char *boolean_step = "unpack_boolean";
constexpr const char *integer_step = "unpack_integer";
constexpr const char *bytes_step = "unpack_bytes";

int32_t fail(const char *function, int32_t code = RAZIVU_E_TRANSFER) {
    COMPushError(function, code);
    return -1;
}

// Reads len data bytes and the separator after them, for a length in
// min..max: the bytes, or null; nothing is read for a length refused.
const char *read_body(int32_t len, int32_t min, int32_t max) {
    return len >= min && len <= max ? msg::receive_body(len + 1) : nullptr;
}

// Checks the separator at pos of the last read (data): the cursor stops past
// it, or on the byte that is not one.
bool separator_at(const char *data, int32_t pos) {
    const bool found = data[pos] == msg::separator;
    msg::set_cursor(found ? pos + 1 : pos);
    return found;
}

char *allocate(int32_t n) {
    // One byte at least: an empty byte array is a block the caller frees, and
    // malloc(0) may give null, which would read as a failure.
    return static_cast<char *>(decoding.allocate.load(std::memory_order_relaxed)(static_cast<std::size_t>(n > 0 ? n : 1)));
}

// The text of len bytes up to its first NUL, padded with NUL to len + 1.
void copy_text(char *block, const char *data, int32_t len) {
    const void *nul = std::memchr(data, '\0', static_cast<std::size_t>(len));
    const int32_t used = nul == nullptr ? len
                                        : static_cast<int32_t>(static_cast<const char *>(nul) - data);
    std::memcpy(block, data, static_cast<std::size_t>(used));
    std::memset(block + used, '\0', static_cast<std::size_t>(len - used) + 1);
}

// Out of line, so that the compiler calls the C library's copy: knowing the
// length below 1000, it would inline a "rep movsq", several times slower
// than the library's vector copy for blocks of that size.
[[gnu::noinline]] void copy_bytes(char *block, const char *data, int32_t len) {
    std::memcpy(block, data, static_cast<std::size_t>(len));
}

// Shared by the block readers: out is null after any failure past the read.
int32_t finish_block(char **out, char *block, const char *data, int32_t len, const char *step) {
    *out = block;
    if (block == nullptr) {
        return fail(step, RAZIVU_E_NO_MEMORY);
    }
    if (!separator_at(data, len)) {
        std::free(block);
        *out = nullptr;
        return fail(step);
    }
    return 0;
}

// A null output pointer fails like a failed header read, with the same
// pushes, before anything is read.
bool refused_output(const void *out) {
    if (out != nullptr) {
        return false;
    }
    fail(header_step);
    return true;
}

// Reads a header and checks its tag; the length is stored either way.
int32_t expect_header(char tag, int32_t *len_out) {
    int32_t type = 0;
    if (msg::unpack_header(&type, len_out) != 0 || type != tag) {
        return -1;
    }
    return 0;
}

}  // namespace

namespace razivu::message {

int32_t unpack_header(int32_t *type_out, int32_t *len_out) {
    const char *header = receive_exact(header_len);
    if (header == nullptr) {
        return fail(header_step);
    }
    *type_out = static_cast<signed char>(header[0]);
    *len_out = parse_slot(header + 1);
    if (!separator_at(header, header_len - 1)) {
        return fail(header_step);
    }
    return 0;
}

int32_t unpack_string(char **out, int32_t len) {
    const char *data = read_body(len, 0, max_body_len);
    if (data == nullptr) {
        return fail(string_step);
    }
    char *block = allocate(len + 1);
    if (block != nullptr) {
        copy_text(block, data, len);
    }
    return finish_block(out, block, data, len, string_step);
}

int32_t unpack_bytes(char **out, int32_t len) {
    const char *data = read_body(len, 0, max_body_len);
    if (data == nullptr) {
        return fail(bytes_step);
    }
    char *block = allocate(len);
    if (block != nullptr) {
        copy_bytes(block, data, len);
    }
    return finish_block(out, block, data, len, bytes_step);
}

// Only the first character counts, and it need not be a digit: old peers
// send one digit and read exactly this way.
int32_t unpack_boolean(int32_t *out, int32_t len) {
    const char *data = read_body(len, 1, max_body_len);
    if (data == nullptr) {
        return fail(boolean_step);
    }
    *out = static_cast<signed char>(data[0]) - '0';
    return separator_at(data, 1) ? 0 : fail(boolean_step);
}

int32_t unpack_integer(int32_t *out, int32_t len) {
    const char *data = read_body(len, 0, max_number_text);
    if (data == nullptr) {
        return fail(integer_step);
    }
    *out = parse_decimal(data, len);
    return separator_at(data, len) ? 0 : fail(integer_step);
}

void set_allocate(Allocate fn) {
    decoding.allocate.store(fn != nullptr ? fn : heap_allocate);
}

}  // namespace razivu::message

extern "C" {

RAZIVU_API int32_t UnpackString(char **text) try {
    int32_t len = 0;
    if (refused_output(text) || expect_header(msg::tag_string, &len) != 0) {
        return fail("UnpackString");
    }
    if (len < 0) {
        *text = nullptr;
        return 0;
    }
    return msg::unpack_string(text, len) == 0 ? 0 : fail("UnpackString");
} RAZIVU_CATCH(-1, "UnpackString")

RAZIVU_API int32_t UnpackFunctionName(char **name) try {
    int32_t len = 0;
    if (refused_output(name) || expect_header(msg::tag_function, &len) != 0 ||
        msg::unpack_string(name, len) != 0) {
        return fail("UnpackFunctionName");
    }
    return 0;
} RAZIVU_CATCH(-1, "UnpackFunctionName")

RAZIVU_API int32_t UnpackBoolean(int32_t *value) try {
    int32_t len = 0;
    if (refused_output(value) || expect_header(msg::tag_boolean, &len) != 0) {
        return fail("UnpackBoolean");
    }
    if (len < 0) {
        *value = 0;
        return 0;
    }
    return msg::unpack_boolean(value, len) == 0 ? 0 : fail("UnpackBoolean");
} RAZIVU_CATCH(-1, "UnpackBoolean")

RAZIVU_API int32_t UnpackInteger(int32_t *value) try {
    int32_t len = 0;
    if (refused_output(value) || expect_header(msg::tag_integer, &len) != 0 ||
        msg::unpack_integer(value, len) != 0) {
        return fail("UnpackInteger");
    }
    return 0;
} RAZIVU_CATCH(-1, "UnpackInteger")

RAZIVU_API int32_t UnpackReturnCode(int32_t *code) try {
    int32_t len = 0;
    if (refused_output(code) || expect_header(msg::tag_return, &len) != 0) {
        return fail("UnpackReturnCode");
    }
    *code = len;
    return 0;
} RAZIVU_CATCH(-1, "UnpackReturnCode")

RAZIVU_API int32_t UnpackByteArray(char **bytes, int32_t *count) try {
    if (bytes != nullptr) {
        *bytes = nullptr;  // null after every failure, this one included
    }
    if (refused_output(bytes) || refused_output(count)) {
        return fail("UnpackByteArray");
    }
    int32_t type = 0;
    int32_t len = 0;
    if (msg::unpack_header(&type, &len) != 0) {
        return fail("UnpackByteArray");
    }
    *count = len;
    if (type != msg::tag_bytes || len < 0 || msg::unpack_bytes(bytes, len) != 0) {
        return fail("UnpackByteArray");
    }
    return 0;
} RAZIVU_CATCH(-1, "UnpackByteArray")

RAZIVU_API int32_t UnpackFree(void *block) try {
    std::free(block);
    return 0;
} RAZIVU_CATCH(0, nullptr)

}  // extern "C"
