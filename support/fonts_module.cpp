// The module description of a font resource file (a 16-bit segmented module)
// and the test for its font directory, read from the module's own resource
// table: 16-bit modules cannot be loaded as libraries on today's systems.
#include <cctype>
#include <cstring>

#include "diagnostics/boundary.h"
#include "razivu/fonts.h"
#include "support/fonts_internal.h"

namespace razivu::support {
namespace {

uint16_t le16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t le32(const uint8_t *p) {
    return static_cast<uint32_t>(le16(p)) | static_cast<uint32_t>(le16(p + 2)) << 16;
}

// The file offset of the new-style header, and that header, into header_out.
bool read_new_header(const ByteSource &src, uint64_t &at_out,
                     uint8_t (&header_out)[new_header_len]) {
    uint8_t dos[dos_header_len];
    if (!read_exact(src, 0, dos, sizeof dos)) {
        return false;
    }
    at_out = le32(dos + new_header_offset_at);
    return read_exact(src, at_out, header_out, sizeof header_out);
}

// True when the Pascal string at offset reads "FONTDIR" in any case.
bool names_fontdir(const ByteSource &src, uint64_t offset) {
    uint8_t text[1 + fontdir_name.size()];
    if (!read_exact(src, offset, text, 1) || text[0] != fontdir_name.size() ||
        !read_exact(src, offset + 1, text + 1, fontdir_name.size())) {
        return false;
    }
    for (std::size_t i = 0; i < fontdir_name.size(); ++i) {
        if (std::toupper(text[1 + i]) != fontdir_name[i]) {
            return false;
        }
    }
    return true;
}

enum class Lookup { absent, usable, unusable };

// Looks through the count name entries of the font-directory type at entries
// for the one named "FONTDIR": usable when its data lies inside the file,
// unusable when not or when an entry lies outside it.
Lookup find_fontdir_entry(const ByteSource &src, uint64_t table, uint64_t entries,
                          uint16_t count, uint16_t shift) {
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t entry[resource_entry_len];
        if (!read_exact(src, entries + uint64_t{i} * resource_entry_len, entry, sizeof entry)) {
            return Lookup::unusable;
        }
        const uint16_t id = le16(entry + 6);
        if ((id & resource_id_is_integer) != 0 || !names_fontdir(src, table + id)) {
            continue;
        }
        const uint64_t offset = uint64_t{le16(entry)} << shift;
        const uint64_t len = uint64_t{le16(entry + 2)} << shift;
        const bool inside = len > 0 && offset <= src.size && len <= src.size - offset;
        return inside ? Lookup::usable : Lookup::unusable;
    }
    return Lookup::absent;
}

}  // namespace

bool read_module_description(const ByteSource &src, char (&text_out)[description_cap]) {
    uint64_t at = 0;
    uint8_t header[new_header_len];
    uint8_t n = 0;
    if (!read_new_header(src, at, header)) {
        return false;
    }
    const uint64_t entry = le32(header + nonresident_table_at);
    if (!read_exact(src, entry, &n, 1) ||
        !read_exact(src, entry + 1, reinterpret_cast<uint8_t *>(text_out), n)) {
        return false;
    }
    text_out[n] = '\0';
    return true;
}

// The type list ends at a type id of 0; the walk also ends at the first
// record outside the file, so it is bounded by the file's size.
bool has_font_directory(const ByteSource &src) {
    uint64_t at = 0;
    uint8_t header[new_header_len];
    uint8_t shift_bytes[2];
    if (!read_new_header(src, at, header)) {
        return false;
    }
    const uint64_t table = at + le16(header + resource_table_at);
    if (!read_exact(src, table, shift_bytes, sizeof shift_bytes) ||
        le16(shift_bytes) > max_alignment_shift) {
        return false;
    }
    const uint16_t shift = le16(shift_bytes);
    uint64_t pos = table + sizeof shift_bytes;
    uint8_t type[resource_type_len];
    while (read_exact(src, pos, type, sizeof type) && le16(type) != 0) {
        const uint16_t count = le16(type + 2);
        pos += resource_type_len;
        if (le16(type) == resource_type_fontdir) {
            const Lookup found = find_fontdir_entry(src, table, pos, count, shift);
            if (found != Lookup::absent) {
                return found == Lookup::usable;
            }
        }
        pos += uint64_t{count} * resource_entry_len;
    }
    return false;
}

}  // namespace razivu::support

static_assert(RAZIVU_DESCRIPTION_CAP == razivu::support::description_cap);

extern "C" {

// The description is handed out as soon as it is read, as before; only a
// description that cannot be read leaves the caller's buffer alone.
RAZIVU_API int32_t ReadFontModuleDescription(const char *path, char *description) try {
    using namespace razivu::support;
    if (path == nullptr || description == nullptr) {
        return 0;
    }
    ByteSource src;
    if (!open_source(path, src)) {
        return 0;
    }
    char text[description_cap];
    bool ok = read_module_description(src, text);
    if (ok) {
        std::memcpy(description, text, std::strlen(text) + 1);
        ok = text[0] != '\0' && has_font_directory(src);
    }
    close_source(src);
    return ok ? 1 : 0;
}
RAZIVU_CATCH(0, nullptr)

}  // extern "C"
