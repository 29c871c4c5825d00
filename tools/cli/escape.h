// Text as the tool shows it. The wire and the library hand out bytes whose
// encoding nothing declares; the tool reads them in one encoding, the one
// --encoding names (UTF-8 by default), and writes UTF-8 everywhere:
//   - on a terminal, every control character (C0, DEL, C1, the bidirectional
//     overrides) and every byte that is no character of the encoding is an
//     escape, so that no text can move the cursor or retitle a window;
//   - in JSON, text is the characters read (U+FFFD for a byte that is none),
//     and the bytes themselves travel beside it in hex where they matter.
#pragma once

#include <string>
#include <string_view>

namespace razivu_tool {

enum class Encoding {
    utf8,    // UTF-8; other bytes are no characters
    cp1252,  // the ANSI code page of Western Windows; five bytes are none
};

// "utf-8" (or "utf8") and "cp1252" (or "windows-1252"); false for others.
bool parse_encoding(const char *name, Encoding &out);
const char *encoding_name(Encoding encoding);

// For a terminal: the characters of bytes in UTF-8, with \n, \t, \xNN (a
// byte that is no character, or a control character below 0x80) and
// \u{NNNN} (any other control character) as escapes; quoted puts the text in
// double quotes and escapes a backslash or double quote inside as well.
std::string shown(std::string_view bytes, Encoding encoding, bool quoted);
// Every byte outside printable ASCII as \xNN: the raw view of `call -v`.
std::string shown_ascii(std::string_view bytes);

// The characters of bytes as UTF-8, U+FFFD for each byte that is none.
std::string decoded(std::string_view bytes, Encoding encoding);

// A JSON string literal of text read as UTF-8 (U+FFFD for bytes that are
// not), control characters escaped.
std::string json_string(std::string_view text);

// Two lower-case hex digits a byte.
std::string hex(std::string_view bytes);

}  // namespace razivu_tool
