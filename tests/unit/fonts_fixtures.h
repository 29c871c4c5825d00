// Font files for the font tests: small synthetic TrueType and font resource
// files built byte by byte, the real fonts the Debian packages install, and
// readers of the naming rules written independently of the library's (whole
// file in memory, no bounds short-cuts), to check it on every real font.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>


namespace razivu::test::fonts {

// ---- Real fixtures -------------------------------------------------------------

inline const std::string ipa_gothic = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";
inline const std::string free_sans_bold = "/usr/share/fonts/truetype/freefont/FreeSansBold.ttf";
inline const std::string dejavu_sans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
inline const std::string wine_fonts = "/usr/share/wine/fonts";

// Every file below dir whose name ends in one of the extensions, sorted.
inline std::vector<std::string> files_below(const std::string &dir,
                                            const std::vector<std::string> &extensions) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto &e : std::filesystem::recursive_directory_iterator(dir, ec)) {
        const std::string ext = e.path().extension().string();
        for (const auto &want : extensions) {
            if (e.is_regular_file() && ext == want) {
                out.push_back(e.path().string());
            }
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

// ---- Byte writers ---------------------------------------------------------------

inline void put_be16(std::string &s, uint32_t v) {
    s += static_cast<char>(v >> 8 & 0xFF);
    s += static_cast<char>(v & 0xFF);
}

inline void put_be32(std::string &s, uint32_t v) {
    put_be16(s, v >> 16);
    put_be16(s, v & 0xFFFF);
}

inline void put_le16(std::string &s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8 & 0xFF);
}

inline void put_le32(std::string &s, uint32_t v) {
    put_le16(s, v & 0xFFFF);
    put_le16(s, v >> 16);
}

inline void set_le16(std::string &s, std::size_t at, uint32_t v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8 & 0xFF);
}

inline void set_le32(std::string &s, std::size_t at, uint32_t v) {
    set_le16(s, at, v & 0xFFFF);
    set_le16(s, at + 2, v >> 16);
}

// ---- Synthetic TrueType files ----------------------------------------------------

struct NameRecord {
    std::u16string text;
    uint16_t language;
    uint16_t encoding;
    uint16_t platform;
    uint16_t name_id;
    bool odd_byte;                   // one more byte after the text
    std::optional<uint16_t> offset;  // into the storage; default: its own string
    std::optional<uint16_t> length;  // default: the text's bytes

    NameRecord(std::u16string text_in, uint16_t language_in = 0x0409, uint16_t encoding_in = 1,
               uint16_t platform_in = 3, uint16_t name_id_in = 4, bool odd_byte_in = false,
               std::optional<uint16_t> offset_in = {}, std::optional<uint16_t> length_in = {})
        : text(std::move(text_in)), language(language_in), encoding(encoding_in),
          platform(platform_in), name_id(name_id_in), odd_byte(odd_byte_in), offset(offset_in),
          length(length_in) {}
};

struct TrueTypeLayout {
    uint16_t tables_before = 0;             // dummy directory entries before "name"
    std::optional<uint16_t> num_tables = std::nullopt;   // numTables; default: all entries written
    bool second_name_table = false;         // another "name" entry after the first, naming "Second"
    std::optional<uint16_t> record_count = std::nullopt; // count in the naming header; default: all
    std::optional<uint32_t> table_offset = std::nullopt; // the "name" entry's offset; default: its table
    std::size_t cut_to = SIZE_MAX;          // file cut to this many bytes
};

// A naming table of records, strings stored in order, at file offset base.
inline std::string naming_table(const std::vector<NameRecord> &records,
                                std::optional<uint16_t> count = std::nullopt) {
    std::string head;
    std::string storage;
    put_be16(head, 0);
    put_be16(head, count.value_or(static_cast<uint16_t>(records.size())));
    put_be16(head, static_cast<uint32_t>(6 + 12 * records.size()));
    for (const auto &r : records) {
        const auto own = static_cast<uint16_t>(storage.size());
        for (char16_t c : r.text) {
            put_be16(storage, c);
        }
        if (r.odd_byte) {
            storage += '\x41';
        }
        const auto len = static_cast<uint16_t>(storage.size() - own);
        put_be16(head, r.platform);
        put_be16(head, r.encoding);
        put_be16(head, r.language);
        put_be16(head, r.name_id);
        put_be16(head, r.length.value_or(len));
        put_be16(head, r.offset.value_or(own));
    }
    return head + storage;
}

inline std::string truetype_file(const std::vector<NameRecord> &records,
                                 const TrueTypeLayout &layout = {}) {
    const uint16_t entries = static_cast<uint16_t>(layout.tables_before + 1 +
                                                   (layout.second_name_table ? 1 : 0));
    const uint32_t first_table = 12 + 16u * entries;
    const std::string table = naming_table(records, layout.record_count);
    const std::string second = naming_table({{u"Second"}});
    std::string out;
    put_be32(out, 0x00010000);
    put_be16(out, layout.num_tables.value_or(entries));
    put_be16(out, 0);
    put_be16(out, 0);
    put_be16(out, 0);
    for (uint16_t i = 0; i < layout.tables_before; ++i) {
        out += "dmy" + std::string(1, static_cast<char>('a' + i % 26));
        put_be32(out, 0);
        put_be32(out, first_table);
        put_be32(out, 0);
    }
    out += "name";
    put_be32(out, 0);
    put_be32(out, layout.table_offset.value_or(first_table));
    put_be32(out, static_cast<uint32_t>(table.size()));
    if (layout.second_name_table) {
        out += "name";
        put_be32(out, 0);
        put_be32(out, first_table + static_cast<uint32_t>(table.size()));
        put_be32(out, static_cast<uint32_t>(second.size()));
    }
    out += table;
    if (layout.second_name_table) {
        out += second;
    }
    return out.substr(0, std::min(out.size(), layout.cut_to));
}

// ---- Synthetic font resource files (16-bit segmented modules) ---------------------

struct Resource {
    uint16_t type = 0x8007;
    std::string name = "FONTDIR";   // "" for an integer id
    uint16_t int_id = 1;
    uint16_t units = 1;             // data length in alignment units
    bool data_outside = false;      // data offset beyond the end of the file
};

struct ModuleLayout {
    uint16_t shift = 4;
    std::size_t cut_to = SIZE_MAX;
};

// DOS header at 0 (new header at 64), new-style header at 64 (resource table
// at 128), the resource table with its names, the non-resident name table,
// then the data of each resource on alignment boundaries.
inline std::string module_file(const std::string &description, const std::vector<Resource> &res,
                               const ModuleLayout &layout = {}) {
    std::string out(128, '\0');
    out[0] = 'M';
    out[1] = 'Z';
    set_le32(out, 60, 64);
    out[64] = 'N';
    out[65] = 'E';
    set_le16(out, 64 + 0x24, 64);
    // Types in order of first appearance, each with its entries.
    std::vector<uint16_t> types;
    for (const auto &r : res) {
        if (std::find(types.begin(), types.end(), r.type) == types.end()) {
            types.push_back(r.type);
        }
    }
    std::string table;
    put_le16(table, layout.shift);
    std::vector<std::size_t> entry_at;     // table offset of each resource's entry
    std::vector<const Resource *> order;
    for (uint16_t t : types) {
        std::vector<const Resource *> of_type;
        for (const auto &r : res) {
            if (r.type == t) {
                of_type.push_back(&r);
            }
        }
        put_le16(table, t);
        put_le16(table, static_cast<uint32_t>(of_type.size()));
        put_le32(table, 0);
        for (const Resource *r : of_type) {
            entry_at.push_back(table.size());
            order.push_back(r);
            table += std::string(12, '\0');
        }
    }
    put_le16(table, 0);
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (order[i]->name.empty()) {
            set_le16(table, entry_at[i] + 6, 0x8000u | order[i]->int_id);
        } else {
            set_le16(table, entry_at[i] + 6, static_cast<uint32_t>(table.size()));
            table += static_cast<char>(order[i]->name.size());
            table += order[i]->name;
        }
    }
    out += table;
    set_le32(out, 64 + 44, static_cast<uint32_t>(out.size()));
    out += static_cast<char>(description.size());
    out += description;
    put_le16(out, 0);
    out += '\0';
    const std::size_t unit = std::size_t{1} << layout.shift;
    for (std::size_t i = 0; i < order.size(); ++i) {
        out.resize((out.size() + unit - 1) / unit * unit, '\0');
        const std::size_t at = order[i]->data_outside ? out.size() + 64 * unit : out.size();
        set_le16(out, 128 + entry_at[i], static_cast<uint32_t>(at / unit));
        set_le16(out, 128 + entry_at[i] + 2, order[i]->units);
        if (!order[i]->data_outside) {
            out += std::string(order[i]->units * unit, '\x5A');
        }
    }
    return out.substr(0, std::min(out.size(), layout.cut_to));
}

// ---- Independent readers ----------------------------------------------------------

inline uint32_t be(const std::string &s, std::size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        v = v << 8 | static_cast<unsigned char>(s.at(at + i));
    }
    return v;
}

// The full name the rules choose, from the whole file in memory: nullopt when
// the file has no naming table among its first 40 entries.
inline std::optional<std::u16string> expected_face_name(const std::string &file) {
    const uint32_t tables = std::min<uint32_t>(be(file, 4, 2), 40);
    for (uint32_t t = 0; t < tables; ++t) {
        if (file.compare(12 + 16 * t, 4, "name") != 0) {
            continue;
        }
        const uint32_t table = be(file, 12 + 16 * t + 8, 4);
        const uint32_t storage = table + be(file, table + 4, 2);
        std::optional<std::u16string> ja, de, en;
        for (uint32_t r = 0; r < be(file, table + 2, 2); ++r) {
            const std::size_t rec = table + 6 + 12 * r;
            const uint32_t enc = be(file, rec + 2, 2);
            if (be(file, rec, 2) != 3 || (enc != 0 && enc != 1) || be(file, rec + 6, 2) != 4) {
                continue;
            }
            std::u16string text;
            const uint32_t len = be(file, rec + 8, 2);
            for (uint32_t i = 0; i + 1 < len && text.size() < 255; i += 2) {
                text += static_cast<char16_t>(be(file, storage + be(file, rec + 10, 2) + i, 2));
            }
            text = text.substr(0, text.find(u'\0'));  // names are terminated strings
            switch (be(file, rec + 4, 2)) {
            case 0x0411: if (!ja) ja = text; break;
            case 0x0407: de = text; break;
            case 0x0409: en = text; break;
            default: break;
            }
        }
        if (ja && !ja->empty()) return ja;
        if (de && !de->empty()) return de;
        return en.value_or(u"");
    }
    return std::nullopt;
}

// Entry 0 of the non-resident name table of a whole module in memory.
inline std::string expected_description(const std::string &file) {
    const uint32_t ne = static_cast<uint32_t>(
        static_cast<unsigned char>(file.at(60)) | static_cast<unsigned char>(file.at(61)) << 8);
    std::size_t at = 0;
    for (int i = 3; i >= 0; --i) {
        at = at << 8 | static_cast<unsigned char>(file.at(ne + 44 + i));
    }
    return file.substr(at + 1, static_cast<unsigned char>(file.at(at)));
}

}  // namespace razivu::test::fonts
