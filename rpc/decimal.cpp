// Decimal texts of the wire format, written and read without the C library so
// that packing stays a few stores per field and reading never depends on the
// locale. The results are those of "%5.5ld", "%4.4ld", "%ld" and atoi.
#include <array>
#include <cassert>
#include <cstring>

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

// "00" to "99", for writing a slot two digits at a time.
constexpr std::array<char, 200> digit_pairs = [] {
    std::array<char, 200> pairs{};
    for (uint32_t i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / radix);
        pairs[2 * i + 1] = static_cast<char>('0' + i % radix);
    }
    return pairs;
}();

// The four lowest digits of value, zero-padded, into out.
void write_four_digits(char *out, uint32_t value) {
    value %= 10000;
    std::memcpy(out, &digit_pairs[2 * (value / 100)], 2);
    std::memcpy(out + 2, &digit_pairs[2 * (value % 100)], 2);
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
    } else {
        out[0] = static_cast<char>('0' + value / 10000);
    }
    write_four_digits(out + 1, magnitude(value));
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

// Lengths are written with five digits: those need no scan for blanks or a
// sign.
int32_t parse_slot(const char *text) {
    static_assert(slot_len == 5);
    const auto digit = [text](int32_t i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(text[i])) - '0';
    };
    const uint32_t d[slot_len] = {digit(0), digit(1), digit(2), digit(3), digit(4)};
    if (d[0] >= radix || d[1] >= radix || d[2] >= radix || d[3] >= radix || d[4] >= radix) {
        return parse_decimal(text, slot_len);
    }
    return static_cast<int32_t>((((d[0] * radix + d[1]) * radix + d[2]) * radix + d[3]) * radix + d[4]);
}

}  // namespace razivu::message
