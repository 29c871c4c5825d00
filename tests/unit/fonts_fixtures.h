// Font files for the font tests and fuzz targets: synthetic TrueType and font
// resource files built byte by byte, the real fonts of the Debian packages,
// and readers written independently of the library's (whole file in memory)
// to check it on every real font and every fuzzed input.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace razivu::test::fonts {

inline const std::string ipa_gothic = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";
inline const std::string free_sans_bold = "/usr/share/fonts/truetype/freefont/FreeSansBold.ttf";
inline const std::string dejavu_sans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
inline const std::string wine_fonts = "/usr/share/wine/fonts";

// Every file below the folders whose name ends in one of the extensions.
inline std::vector<std::string> files_below(const std::vector<std::string> &dirs,
                                            const std::vector<std::string> &extensions) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto &dir : dirs) {
        for (const auto &e : std::filesystem::recursive_directory_iterator(dir, ec)) {
            if (e.is_regular_file() && std::count(extensions.begin(), extensions.end(),
                                                  e.path().extension().string()) > 0) {
                out.push_back(e.path().string());
            }
        }
    }
    return out;
}

// Each value appended as a field of n bytes, big-endian unless told.
inline void put(std::string &s, int n, std::initializer_list<uint32_t> values, bool big = true) {
    for (uint32_t v : values) {
        for (int i = 0; i < n; ++i) {
            s += static_cast<char>(v >> 8 * (big ? n - 1 - i : i) & 0xFF);
        }
    }
}

// v as a little-endian field of n bytes at s[at].
inline void set_le(std::string &s, std::size_t at, int n, uint32_t v) {
    std::string field;
    put(field, n, {v}, false);
    s.replace(at, n, field);
}

// A name record of a synthetic TrueType file; by default an English full name.
struct NameRecord {
    std::u16string text;
    uint16_t language = 0x0409;
    uint16_t encoding = 1;
    uint16_t platform = 3;
    uint16_t name_id = 4;
    bool odd_byte = false;              // one more byte after the text
    std::optional<uint16_t> offset{};   // into the storage; default: its own string
    std::optional<uint16_t> length{};   // default: the text's bytes
};

struct TrueTypeLayout {
    uint16_t tables_before = 0;             // dummy directory entries before "name"
    std::optional<uint16_t> num_tables{};   // numTables; default: all entries written
    bool second_name_table = false;         // another "name" entry after the first, naming "Second"
    std::optional<uint16_t> record_count{}; // count in the naming header; default: all
    std::optional<uint32_t> table_offset{}; // the "name" entry's offset; default: its table
    std::size_t cut_to = SIZE_MAX;          // file cut to this many bytes
};

// A naming table of records, strings stored in order.
inline std::string naming_table(const std::vector<NameRecord> &records,
                                std::optional<uint16_t> count = std::nullopt) {
    std::string head;
    std::string storage;
    const auto n = static_cast<uint32_t>(records.size());
    put(head, 2, {0, count.value_or(n), 6 + 12 * n});
    for (const auto &r : records) {
        const auto own = static_cast<uint32_t>(storage.size());
        for (char16_t c : r.text) {
            put(storage, 2, {c});
        }
        storage += r.odd_byte ? "A" : "";
        const auto len = static_cast<uint32_t>(storage.size() - own);
        put(head, 2, {r.platform, r.encoding, r.language, r.name_id, r.length.value_or(len),
                         r.offset.value_or(own)});
    }
    return head + storage;
}

inline std::string truetype_file(const std::vector<NameRecord> &records,
                                 const TrueTypeLayout &layout = {}) {
    const uint32_t entries = layout.tables_before + 1u + (layout.second_name_table ? 1 : 0);
    const uint32_t first_table = 12 + 16 * entries;
    const std::string table = naming_table(records, layout.record_count);
    const std::string second = layout.second_name_table ? naming_table({{u"Second"}}) : "";
    const auto table_len = static_cast<uint32_t>(table.size());
    std::string out;
    put(out, 4, {0x00010000});
    put(out, 2, {layout.num_tables.value_or(entries), 0, 0, 0});
    for (uint32_t i = 0; i < layout.tables_before; ++i) {
        out += "dmy" + std::string(1, static_cast<char>('a' + i % 26));
        put(out, 4, {0, first_table, 0});
    }
    out += "name";
    put(out, 4, {0, layout.table_offset.value_or(first_table), table_len});
    if (!second.empty()) {
        out += "name";
        put(out, 4, {0, first_table + table_len, static_cast<uint32_t>(second.size())});
    }
    out += table + second;
    return out.substr(0, std::min(out.size(), layout.cut_to));
}

struct Resource {
    uint16_t type = 0x8007;
    std::string name = "FONTDIR";   // "" for an integer id
    uint16_t int_id = 1;
    uint16_t units = 1;             // data length in alignment units
    bool data_outside = false;      // data offset beyond the end of the file
};

// A font resource file (a 16-bit segmented module): DOS header at 0, new-style
// header at 64, its resource table at 128 with the names, the non-resident
// name table, then each resource's data on boundaries of 1 << shift bytes.
// Resources of one type are given one after another.
inline std::string module_file(const std::string &description, const std::vector<Resource> &res,
                               uint16_t shift = 4) {
    std::string out = "MZ" + std::string(62, '\0') + "NE" + std::string(62, '\0');
    set_le(out, 60, 4, 64);
    set_le(out, 64 + 0x24, 2, 64);
    std::string table;
    put(table, 2, {shift}, false);
    std::vector<std::size_t> entry_at;  // table offset of each resource's entry
    for (auto r = res.begin(); r != res.end(); ++r) {
        if (r == res.begin() || r->type != r[-1].type) {
            const auto same = std::find_if(r, res.end(), [&](auto &o) { return o.type != r->type; });
            put(table, 2, {r->type, static_cast<uint32_t>(same - r), 0, 0}, false);
        }
        entry_at.push_back(table.size());
        table += std::string(12, '\0');
    }
    put(table, 2, {0}, false);
    for (std::size_t i = 0; i < res.size(); ++i) {
        const bool named = !res[i].name.empty();
        set_le(table, entry_at[i] + 6, 2,
               named ? static_cast<uint32_t>(table.size()) : 0x8000u | res[i].int_id);
        table += named ? static_cast<char>(res[i].name.size()) + res[i].name : "";
    }
    out += table;
    set_le(out, 64 + 44, 4, static_cast<uint32_t>(out.size()));
    out += static_cast<char>(description.size()) + description + std::string(3, '\0');
    const std::size_t unit = std::size_t{1} << shift;
    for (std::size_t i = 0; i < res.size(); ++i) {
        out.resize((out.size() + unit - 1) / unit * unit, '\0');
        const std::size_t at = res[i].data_outside ? out.size() + 64 * unit : out.size();
        set_le(out, 128 + entry_at[i], 2, static_cast<uint32_t>(at / unit));
        set_le(out, 128 + entry_at[i] + 2, 2, res[i].units);
        out += std::string(res[i].data_outside ? 0 : res[i].units * unit, '\x5A');
    }
    return out;
}

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
    for (uint32_t t = 0; t < std::min<uint32_t>(be(file, 4, 2), 40); ++t) {
        if (file.compare(12 + 16 * t, 4, "name") != 0) {
            continue;
        }
        const uint32_t table = be(file, 12 + 16 * t + 8, 4);
        std::optional<std::u16string> names[3];  // Japanese, German, English
        for (uint32_t r = 0; r < be(file, table + 2, 2); ++r) {
            const std::size_t rec = table + 6 + 12 * r;
            const uint32_t lang = be(file, rec + 4, 2);
            const int k = lang == 0x0411 ? 0 : lang == 0x0407 ? 1 : lang == 0x0409 ? 2 : -1;
            if (be(file, rec, 2) != 3 || be(file, rec + 2, 2) > 1 || be(file, rec + 6, 2) != 4 ||
                k < 0 || (k == 0 && names[0])) {  // the first Japanese name, the last of the others
                continue;
            }
            const std::size_t at = table + be(file, table + 4, 2) + be(file, rec + 10, 2);
            std::u16string text;
            for (uint32_t i = 0; i + 1 < be(file, rec + 8, 2) && text.size() < 255; i += 2) {
                text += static_cast<char16_t>(be(file, at + i, 2));
            }
            names[k] = text.substr(0, text.find(u'\0'));  // names are terminated strings
        }
        return names[0] && !names[0]->empty()   ? names[0]
               : names[1] && !names[1]->empty() ? names[1]
                                                : names[2].value_or(u"");
    }
    return std::nullopt;
}

// Entry 0 of the non-resident name table of a whole module in memory.
inline std::string expected_description(const std::string &file) {
    const uint32_t ne = be(file, 60, 1) | be(file, 61, 1) << 8;
    uint32_t at = 0;
    for (int i = 3; i >= 0; --i) {
        at = at << 8 | be(file, ne + 44 + i, 1);
    }
    return file.substr(at + 1, be(file, at, 1));
}

}  // namespace razivu::test::fonts
