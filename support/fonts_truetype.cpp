// The full font name of a TrueType file, read from its naming table with a
// few small reads wherever the table lies in the file.
#include <algorithm>
#include <cstring>

#include "diagnostics/boundary.h"
#include "razivu/fonts.h"
#include "support/fonts_internal.h"

namespace razivu::support {
namespace {

enum Language : std::size_t { japanese, german, english, language_count };

// The name candidates of one naming table. The Japanese name is the first
// matching record's; German and English take each later record's instead.
struct Candidates {
    char16_t text[language_count][face_name_cap];  // terminated names
    bool seen[language_count];                     // a record of the language was read
};

uint16_t be16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t be32(const uint8_t *p) {
    return static_cast<uint32_t>(be16(p)) << 16 | be16(p + 2);
}

// The candidate a name record fills, or language_count when it fills none.
std::size_t candidate_of(const uint8_t *record) {
    const uint16_t encoding = be16(record + 2);
    if (be16(record) != platform_windows || be16(record + 6) != name_id_full_name ||
        (encoding != encoding_symbol && encoding != encoding_unicode_bmp)) {
        return language_count;
    }
    switch (be16(record + 4)) {
    case language_japanese: return japanese;
    case language_german: return german;
    case language_english_us: return english;
    default: return language_count;
    }
}

// A UTF-16BE string of len bytes at offset: the whole string must lie inside
// the file; at most face_name_max code units are kept, an odd last byte never.
bool read_name_string(const ByteSource &src, uint64_t offset, uint16_t len,
                      char16_t (&text_out)[face_name_cap]) {
    if (offset > src.size || len > src.size - offset) {
        return false;
    }
    const std::size_t units = std::min<std::size_t>(len / 2, face_name_max);
    uint8_t raw[face_name_max * 2];
    if (!read_exact(src, offset, raw, units * 2)) {
        return false;
    }
    for (std::size_t i = 0; i < units; ++i) {
        text_out[i] = static_cast<char16_t>(be16(raw + 2 * i));
    }
    text_out[units] = u'\0';
    return true;
}

bool read_naming_table(const ByteSource &src, uint64_t table,
                       char16_t (&face_out)[face_name_cap]) {
    uint8_t header[naming_header_len];
    if (!read_exact(src, table, header, sizeof header)) {
        return false;
    }
    const uint16_t count = be16(header + 2);
    const uint64_t storage = table + be16(header + 4);
    Candidates found{};
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t record[name_record_len];
        if (!read_exact(src, table + naming_header_len + uint64_t{i} * name_record_len, record,
                        sizeof record)) {
            return false;
        }
        const std::size_t lang = candidate_of(record);
        if (lang == language_count || (lang == japanese && found.seen[japanese])) {
            continue;
        }
        if (!read_name_string(src, storage + be16(record + 10), be16(record + 8),
                              found.text[lang])) {
            return false;
        }
        found.seen[lang] = true;
    }
    const std::size_t chosen = found.text[japanese][0] != u'\0' ? japanese
                               : found.text[german][0] != u'\0' ? german
                                                                : english;
    std::memcpy(face_out, found.text[chosen], sizeof face_out);
    return true;
}

}  // namespace

// Only the first table tagged "name" among the first 40 entries is read.
bool read_face_name(const ByteSource &src, char16_t (&face_out)[face_name_cap]) {
    uint8_t offsets[offset_table_len];
    if (!read_exact(src, 0, offsets, sizeof offsets)) {
        return false;
    }
    const uint32_t n = std::min<uint32_t>(be16(offsets + 4), max_directory_entries);
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t entry[directory_entry_len];
        if (!read_exact(src, offset_table_len + uint64_t{i} * directory_entry_len, entry,
                        sizeof entry)) {
            return false;
        }
        if (std::memcmp(entry, "name", 4) == 0) {
            return read_naming_table(src, be32(entry + 8), face_out);
        }
    }
    return false;
}

bool face_name_of_file(const char *path, char16_t (&face_out)[face_name_cap]) {
    ByteSource src;
    if (!open_source(path, src)) {
        return false;
    }
    const bool ok = read_face_name(src, face_out);
    close_source(src);
    return ok;
}

}  // namespace razivu::support

static_assert(sizeof(RazivuWChar) == sizeof(char16_t));
static_assert(RAZIVU_FACE_NAME_CAP == razivu::support::face_name_cap);

extern "C" {

// The name is read into a buffer of our own first, so the caller's is
// written only with a complete result.
RAZIVU_API int32_t GetTrueTypeFaceName(const char *path, RazivuWChar *face_name) try {
    using namespace razivu::support;
    if (path == nullptr || face_name == nullptr) {
        return RAZIVU_STATUS_FAILED;
    }
    char16_t face[face_name_cap];
    if (!face_name_of_file(path, face)) {
        return RAZIVU_STATUS_FAILED;
    }
    std::memcpy(face_name, face, sizeof face);
    return RAZIVU_STATUS_OK;
}
RAZIVU_CATCH(RAZIVU_STATUS_FAILED, nullptr)

}  // extern "C"
