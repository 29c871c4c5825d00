// Text encodings, in one place for the whole library: UTF-8 and UTF-16, the
// ANSI code page of Western Windows (1252), XML escaping, the text a profile
// line can hold, and the title of a file name. Pure computation: no system call, built on every platform.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace razivu::standins {

// Length of the well-formed (shortest-form, scalar value) UTF-8 sequence that
// starts at text[at], or 0 when none does.
std::size_t utf8_sequence_length(std::string_view text, std::size_t at);
bool is_utf8(std::string_view text);

// The next code point of the UTF-8 text at text[at], moving at past it;
// false, with at unchanged, for bytes that are not well-formed UTF-8.
bool next_code_point(std::string_view text, std::size_t &at, char32_t &c_out);

// Appends c as UTF-8.
void append_utf8(std::string &out, char32_t c);

// Code page 1252 text as UTF-8 into out; false when it holds one of the five
// bytes the page leaves without a character (out then has U+FFFD for each).
bool utf8_from_cp1252(std::string_view text, std::string &out);

// UTF-8 text in code page 1252 appended to out; false for bytes that are not
// well-formed UTF-8 or a character the page lacks.
bool cp1252_from_utf8(std::string_view text, std::string &out);

// Text as UTF-8: valid UTF-8 stays as it is, any other text is read as code
// page 1252 (five bytes without a character become U+FFFD).
std::string utf8_from_ansi(std::string_view text);

// UTF-16 (terminated) as UTF-8. A lone surrogate has no UTF-8 form: strict,
// the conversion fails; lenient, it becomes U+FFFD.
enum class Surrogates { strict, lenient };
bool utf8_from_utf16(const char16_t *text, std::string &out,
                     Surrogates lone = Surrogates::strict);

// UTF-8 text as terminated UTF-16 into out[cap] (cap > 0); false when the
// text is not well-formed UTF-8 or does not fit with its terminator. With cut,
// the conversion instead stops before the first byte that is not well-formed
// or the first character that does not fit (a surrogate pair is never split)
// and succeeds. units_out receives the units written before the terminator.
bool utf16_from_utf8(std::string_view text, char16_t *out, std::size_t cap,
                     std::size_t *units_out = nullptr, bool cut = false);

// Text without the blanks at either end (space, tab, line ends, vertical tab,
// form feed), as profile readers take names and values.
std::string_view without_blanks(std::string_view text);

// Whether a private profile entry is written as itself, each part taken
// without the blanks around it, as profile writers write and readers read
// it: no control character but a tab in the section, key or value, and a key
// that is not empty, holds no "=" and does not begin with "[" or ";". A null
// key or value (a section or a key deleted) passes.
bool profile_entry_writable(std::string_view section, const char *key, const char *value);

// Text for an XML element: &, < and > as entities.
std::string xml_escaped(std::string_view text);

// The file name of a path without its folder (after the last \ / or :) and
// without its extension: "C:\\APPS\\EDIT.EXE" gives "EDIT".
std::string file_title(std::string_view path);

}  // namespace razivu::standins
