// Decimal texts of the wire format, written and read without the C library so
// that packing stays a few stores per field and reading never depends on the
// locale. The results are those of "%5.5ld", "%4.4ld", "%ld" and atoi.
#include <cassert>

#include "rpc/message_internal.h"

namespace razivu::message {
namespace {

constexpr uint32_t radix = 10;

// The n_digits lowest digits of value, zero-padded, into out.
void write_digits(char *out, int32_t n_digits, uint32_t value) {
    for (int32_t i = n_digits - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % radix);
        value /= radix;
    }
}

int32_t count_digits(uint32_t value) {
    int32_t n = 1;
    for (; value >= radix; value /= radix) {
        ++n;
    }
    return n;
}

uint32_t magnitude(int32_t value) {
    return value < 0 ? 0U - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
}

// The blanks that atoi skips in the C locale.
bool is_blank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

// "%5.5ld" would give six characters for a negative value, one more than the
// slot holds, so negative values take the "%4.4ld" form that lengths use.
void write_slot(char *out, int32_t value) {
    assert(value >= min_return_code && value <= max_return_code);
    if (value < 0) {
        out[0] = '-';
        write_digits(out + 1, slot_len - 1, magnitude(value));
    } else {
        write_digits(out, slot_len, magnitude(value));
    }
}

int32_t write_number(char *out, int32_t value) {
    assert(value >= min_number && value <= max_number);
    int32_t len = 0;
    if (value < 0) {
        out[len++] = '-';
    }
    const int32_t n_digits = count_digits(magnitude(value));
    write_digits(out + len, n_digits, magnitude(value));
    len += n_digits;
    out[len] = '\0';
    return len;
}

// len is at most max_number_text, so the value cannot overflow.
int32_t parse_decimal(const char *text, int32_t len) {
    assert(len <= max_number_text);
    int32_t i = 0;
    while (i < len && is_blank(text[i])) {
        ++i;
    }
    const bool negative = i < len && text[i] == '-';
    if (i < len && (text[i] == '-' || text[i] == '+')) {
        ++i;
    }
    int32_t value = 0;
    for (; i < len && is_digit(text[i]); ++i) {
        value = value * static_cast<int32_t>(radix) + (text[i] - '0');
    }
    return negative ? -value : value;
}

}  // namespace razivu::message
