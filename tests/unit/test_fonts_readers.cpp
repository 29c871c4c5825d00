// The two font-file readers: every naming rule on small synthetic files,
// every bound on damaged ones, and agreement with independent readers on the
// real fonts the Debian packages install.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "razivu/razivu.h"
#include "support/fonts_internal.h"
#include "support/test_env.h"
#include "unit/fonts_fixtures.h"

namespace {

using namespace razivu::test;
namespace fx = razivu::test::fonts;
using fx::NameRecord;

constexpr RazivuWChar canary = 0x2A2A;

// GetTrueTypeFaceName on a file of bytes into 256 units of canaries and a guard
// zone that must stay as it was: the result, the name, the 256 units untouched.
std::tuple<int32_t, std::u16string, bool> face_of(const std::string &bytes) {
    const std::string path = root() + "/work/face.ttf";
    write_file(path, bytes);
    std::vector<RazivuWChar> buf(RAZIVU_FACE_NAME_CAP + 16, canary);
    const int32_t rc = GetTrueTypeFaceName(path.c_str(), buf.data());
    const auto cap = buf.begin() + RAZIVU_FACE_NAME_CAP;
    EXPECT_EQ(std::count(cap, buf.end(), canary), 16) << "written past the caller's buffer";
    return {rc, std::u16string(buf.begin(), std::find(buf.begin(), cap, 0)),
            std::count(buf.begin(), cap, canary) == RAZIVU_FACE_NAME_CAP};
}

const std::u16string long_name(300, u'x');

TEST(TrueTypeNames, every_rule_of_the_naming_table) {
    const std::vector<std::tuple<const char *, std::vector<NameRecord>, std::u16string>> cases = {
        {"English alone", {{u"Eng"}}, u"Eng"},
        {"German before English", {{u"Eng"}, {u"Deu", 0x0407}}, u"Deu"},
        {"Japanese before both", {{u"Deu", 0x0407}, {u"日本", 0x0411}, {u"Eng"}}, u"日本"},
        {"the last English record wins", {{u"One"}, {u"Two"}}, u"Two"},
        {"the last German record wins", {{u"Eins", 0x0407}, {u"Zwei", 0x0407}}, u"Zwei"},
        {"the first Japanese record wins", {{u"一", 0x0411}, {u"二", 0x0411}}, u"一"},
        {"an empty first Japanese record is still the one taken",
         {{u"", 0x0411}, {u"二", 0x0411}, {u"Eng"}}, u"Eng"},
        {"an empty German name gives way to English", {{u"", 0x0407}, {u"Eng"}}, u"Eng"},
        {"an empty English name is the answer", {{u"Eng"}, {u""}}, u""},
        {"symbol encoding counts", {{u"Sym", 0x0409, 0}}, u"Sym"},
        {"full-Unicode encoding does not", {{u"Eng"}, {u"Full", 0x0409, 10}}, u"Eng"},
        {"Macintosh records do not", {{u"Eng"}, {u"Mac", 0x0409, 1, 1}}, u"Eng"},
        {"family names do not", {{u"Eng"}, {u"Fam", 0x0409, 1, 3, 1}}, u"Eng"},
        {"other languages do not", {{u"Eng"}, {u"Magyar", 0x040E}}, u"Eng"},
        {"no matching record gives an empty name", {{u"Fam", 0x0409, 1, 3, 1}}, u""},
        {"no records at all", {}, u""},
        {"an odd last byte is dropped", {{u"Ab", 0x0409, 1, 3, 4, true}}, u"Ab"},
        {"names are cut to 255 units", {{long_name}}, long_name.substr(0, 255)},
        {"a string may be shared", {{u"Shared"}, {u"", 0x0407, 1, 3, 4, false, 0, 12}}, u"Shared"},
    };
    for (const auto &[rule, records, expected] : cases) {
        SCOPED_TRACE(rule);
        const std::string file = fx::truetype_file(records);
        const auto [rc, face, untouched] = face_of(file);
        EXPECT_EQ(rc, RAZIVU_STATUS_OK);
        EXPECT_EQ(face, expected);
        EXPECT_EQ(fx::expected_face_name(file), expected) << "the independent reader";
    }
}

// What, the records, their layout, and the result; the name is "Eng" when read.
TEST(TrueTypeNames, tables_and_bounds) {
    const std::vector<NameRecord> eng = {{u"Eng"}};
    const std::size_t whole = fx::truetype_file(eng).size();
    const std::size_t long_file = fx::truetype_file({{long_name}}).size();
    const std::vector<std::tuple<const char *, std::vector<NameRecord>, fx::TrueTypeLayout, int32_t>> cases = {
        {"naming table as the 40th entry", eng, {.tables_before = 39}, 0},
        {"naming table behind the 40th entry", eng, {.tables_before = 40}, 1},
        {"only the first naming table is read", eng, {.second_name_table = true}, 0},
        {"no tables", eng, {.num_tables = 0}, 1},
        {"directory shorter than numTables says", eng,
         {.tables_before = 3, .num_tables = 9, .cut_to = 12 + 16 * 3 + 8}, 1},
        {"offset table cut", eng, {.cut_to = 11}, 1},
        {"naming table outside the file", eng, {.table_offset = 1u << 30}, 1},
        {"naming header cut", eng, {.cut_to = 12 + 16 + 5}, 1},
        {"more records than the file holds", eng, {.record_count = 2}, 1},
        {"string cut by the end of the file", eng, {.cut_to = whole - 1}, 1},
        {"string offset outside the file", {{u"Eng", 0x0409, 1, 3, 4, false, 0xFFF0}}, {}, 1},
        {"string length past the end of the file", {{u"Eng", 0x0409, 1, 3, 4, false, {}, 0xFFFF}}, {}, 1},
        // Only 255 units are kept, but the whole string must lie inside the file.
        {"the end of a long string cut off", {{long_name}}, {.cut_to = long_file - 2}, 1},
    };
    for (const auto &[what, records, layout, result] : cases) {
        SCOPED_TRACE(what);
        const auto [rc, face, untouched] = face_of(fx::truetype_file(records, layout));
        EXPECT_EQ(rc, result);
        EXPECT_TRUE(result == RAZIVU_STATUS_OK ? face == u"Eng" : untouched);
    }
}

// Every TrueType and OpenType file installed on the machine, and the
// TrueType files of the Wine package, against the independent reader.
TEST(TrueTypeNames, every_installed_font_agrees_with_an_independent_reader) {
    const auto files = fx::files_below({"/usr/share/fonts", fx::wine_fonts}, {".ttf", ".otf", ".ttc"});
    ASSERT_GE(files.size(), 30u);
    for (const auto &path : files) {
        const auto expected = fx::expected_face_name(read_file(path));
        const auto [rc, face, untouched] = face_of(read_file(path));
        EXPECT_EQ(rc, expected ? RAZIVU_STATUS_OK : RAZIVU_STATUS_FAILED) << path;
        EXPECT_TRUE(expected ? face == *expected : untouched) << path;
    }
}

TEST(FontModules, description_and_font_directory_are_read_within_the_file) {
    const std::string desc = "FONTRES 100,96,96 : Test 10 (VGA res)";
    const auto with = [&](const std::vector<fx::Resource> &res, uint16_t shift = 4) {
        return fx::module_file(desc, res, shift);
    };
    const fx::Resource font{0x8008, "", 80, 2};
    const std::string good = with({{}});
    const auto patched = [&](std::size_t at, int n, uint32_t v) {
        std::string bytes = good;
        fx::set_le(bytes, at, n, v);
        return bytes;
    };
    const std::string d255(255, 'd');
    // What, bytes, result, the description handed out (nullopt: the buffer is untouched).
    const std::vector<std::tuple<const char *, std::string, int32_t, std::optional<std::string>>> cases = {
        {"FONTDIR of type 7", with({font, {}}), 1, desc},
        {"the name compares case-blind", with({{.name = "fontdir"}}), 1, desc},
        {"found behind other types and entries",
         with({font, {0x8008, "", 81}, {0x8007, "OTHER"}, {}}), 1, desc},
        {"alignment shift 0", with({{}}, 0), 1, desc},
        {"a description of 255 bytes", fx::module_file(d255, {{}}), 1, d255},
        {"no resources", with({}), 0, desc},
        {"FONTDIR of another type", with({{.type = 0x8008}}), 0, desc},
        {"an integer id is no name", with({{.name = "", .int_id = 7}}), 0, desc},
        {"another name", with({{.name = "FONTDIRS"}}), 0, desc},
        {"data outside the file", with({{.data_outside = true}}), 0, desc},
        {"empty data", with({{.units = 0}}), 0, desc},
        {"alignment shift beyond any file", patched(128, 2, razivu::support::max_alignment_shift + 1),
         0, desc},
        {"an empty description", fx::module_file("", {{}}), 0, ""},
        {"DOS header cut", good.substr(0, 63), 0, {}},
        {"new-style header outside the file", patched(60, 4, 0x7FFFFFF0), 0, {}},
        {"name table at the end of the file", patched(64 + 44, 4, good.size()), 0, {}},
        {"description cut", good.substr(0, 128 + 32 + 2), 0, {}},
    };
    const std::string path = root() + "/work/module.fon";
    for (const auto &[what, bytes, rc, text] : cases) {
        SCOPED_TRACE(what);
        write_file(path, bytes);
        char buf[RAZIVU_DESCRIPTION_CAP + 16];
        std::memset(buf, '#', sizeof buf);
        EXPECT_EQ(ReadFontModuleDescription(path.c_str(), buf), rc);
        EXPECT_EQ(std::string(buf + RAZIVU_DESCRIPTION_CAP, 16), std::string(16, '#'));
        EXPECT_EQ(std::string(buf, text ? strnlen(buf, RAZIVU_DESCRIPTION_CAP) : 1), text.value_or("#"));
    }
}

}  // namespace
