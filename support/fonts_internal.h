// Inner steps of font installation, reachable by tests and fuzz targets:
// the two font-file readers over a byte source, and the name and path rules
// of the install operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace razivu::support {

// ---- Byte sources ----------------------------------------------------------

// A font file, or a block of memory, read at absolute offsets. Every read is
// checked against size first: a structure outside the data fails the read.
struct ByteSource {
    uint64_t size = 0;                 // bytes in the file or block
    std::FILE *file = nullptr;         // the open file, or nullptr
    const uint8_t *bytes = nullptr;    // the block when file is nullptr
};

// Exactly n bytes at offset into buf; false when they are not all inside the
// source or cannot be read.
bool read_exact(const ByteSource &src, uint64_t offset, uint8_t *buf, std::size_t n);

// A block of memory as a source.
ByteSource memory_source(const uint8_t *bytes, std::size_t n);

// Opens a file (Windows-form or host path) read-only as a source; false when
// it cannot be opened or its size read. close_source closes it.
bool open_source(const char *path, ByteSource &src_out);
void close_source(ByteSource &src);

// ---- TrueType naming table ---------------------------------------------------

constexpr std::size_t face_name_cap = 256;           // code units, terminator included
constexpr std::size_t face_name_max = face_name_cap - 1;
constexpr uint32_t max_directory_entries = 40;       // later table entries are not examined
constexpr std::size_t offset_table_len = 12;
constexpr std::size_t directory_entry_len = 16;
constexpr std::size_t naming_header_len = 6;
constexpr std::size_t name_record_len = 12;
constexpr uint16_t platform_windows = 3;
constexpr uint16_t encoding_symbol = 0;
constexpr uint16_t encoding_unicode_bmp = 1;
constexpr uint16_t name_id_full_name = 4;
constexpr uint16_t language_japanese = 0x0411;
constexpr uint16_t language_german = 0x0407;
constexpr uint16_t language_english_us = 0x0409;

// The full font name by the rules of GetTrueTypeFaceName into face_out,
// terminated. false (face_out unspecified) when the data has no naming table
// among its first 40 tables or a structure read lies outside it.
bool read_face_name(const ByteSource &src, char16_t (&face_out)[face_name_cap]);

// read_face_name of the file at path; false also when it cannot be opened.
bool face_name_of_file(const char *path, char16_t (&face_out)[face_name_cap]);

// ---- Font resource modules -----------------------------------------------------

constexpr std::size_t description_cap = 256;  // the length byte bounds it to 255
constexpr std::size_t dos_header_len = 64;
constexpr std::size_t new_header_offset_at = 60;  // in the DOS header
constexpr std::size_t new_header_len = 64;
constexpr std::size_t nonresident_table_at = 44;  // in the new-style header, file-relative
constexpr std::size_t resource_table_at = 0x24;   // in the new-style header, header-relative
constexpr std::size_t resource_type_len = 8;
constexpr std::size_t resource_entry_len = 12;
constexpr uint16_t resource_type_fontdir = 0x8007;  // integer type 7
constexpr uint16_t resource_id_is_integer = 0x8000;
constexpr uint16_t max_alignment_shift = 24;         // beyond it offsets pass any file
constexpr std::string_view fontdir_name = "FONTDIR";

// The module description (entry 0 of the non-resident name table) into
// text_out, terminated after its length byte's count. false when a header
// or the entry lies outside the data.
bool read_module_description(const ByteSource &src, char (&text_out)[description_cap]);

// True when the module's resource table holds a resource named "FONTDIR"
// (case-blind) of type 7 whose data lies inside the file.
bool has_font_directory(const ByteSource &src);

// ---- Names, keys and paths of the install operations ----------------------------

constexpr std::size_t max_path_len = 255;          // paths and the Windows directory
constexpr std::size_t path_cap = max_path_len + 1;
constexpr std::size_t min_truetype_file_name = 3;  // its last three are replaced by "ttf"
constexpr std::size_t truetype_key_max = 127;      // code units, suffix included
constexpr std::size_t max_profile_text = 255;      // resource keys and profile values
constexpr std::size_t profile_text_cap = max_profile_text + 1;
constexpr const char *fonts_folder = "FONTS";
constexpr const char *resource_folder = "SYSTEM";
constexpr std::u16string_view truetype_suffix = u" (TrueType)";
constexpr std::string_view plotter_suffix = " (Plotter)";
constexpr std::string_view vector_marker = "CONTINUOUSSCALING";

// The target of an install into folder: the Windows directory in upper case,
// "\", folder, "\", file_name. false when the directory cannot be read or the
// path would pass max_path_len.
bool target_path(const char *folder, const char *file_name, char (&path_out)[path_cap]);

// The same path, compared without regard to case as the platform upper-cases.
bool same_path(const char *a, const char *b);

// A file name an install may store and enter: at least min_len characters,
// no path separator, drive colon or control character.
bool usable_file_name(const char *name, std::size_t min_len);

// A profile key whose line reads back as itself (profile_entry_writable of
// standins/text.h) and that has no unpaired surrogate.
bool usable_key(std::u16string_view key);

// The name a font resource's description enters it under: the text from two
// characters past the first ":" to the end, plus " (Plotter)" for a vector
// font. false when there is no colon, the name is empty or too long.
bool resource_key(std::string_view description, char (&key_out)[profile_text_cap]);

}  // namespace razivu::support
