// The two font-file readers: every naming rule on small synthetic files,
// every bound on damaged ones, and agreement with independent readers on the
// real fonts the Debian packages install.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "razivu/razivu.h"
#include "support/fonts_internal.h"
#include "support/test_env.h"
#include "unit/fonts_fixtures.h"

namespace {

namespace fx = razivu::test::fonts;
using fx::NameRecord;
using fx::TrueTypeLayout;
using razivu::test::read_file;
using razivu::test::root;
using razivu::test::write_file;

constexpr RazivuWChar canary = 0x2A2A;

struct FaceResult {
    int32_t rc;
    std::u16string face;
    bool untouched;   // the buffer still holds the canary everywhere
    bool in_bounds;   // nothing written past the terminator's slot... the buffer's end
};

// GetTrueTypeFaceName on a file holding bytes, through a buffer with a guard
// zone behind its 256 units.
FaceResult face_of(const std::string &bytes) {
    const std::string path = root() + "/work/face.ttf";
    write_file(path, bytes);
    std::vector<RazivuWChar> buf(RAZIVU_FACE_NAME_CAP + 16, canary);
    FaceResult r{GetTrueTypeFaceName(path.c_str(), buf.data()), {}, true, true};
    for (std::size_t i = 0; i < RAZIVU_FACE_NAME_CAP; ++i) {
        r.untouched = r.untouched && buf[i] == canary;
    }
    for (std::size_t i = RAZIVU_FACE_NAME_CAP; i < buf.size(); ++i) {
        r.in_bounds = r.in_bounds && buf[i] == canary;
    }
    for (std::size_t i = 0; i < RAZIVU_FACE_NAME_CAP && buf[i] != 0; ++i) {
        r.face += static_cast<char16_t>(buf[i]);
    }
    return r;
}

const std::u16string long_name(300, u'x');

struct RuleCase {
    const char *rule;
    std::vector<NameRecord> records;
    std::u16string expected;
};

TEST(TrueTypeNames, every_rule_of_the_naming_table) {
    const std::vector<RuleCase> cases = {
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
    for (const auto &c : cases) {
        const std::string file = fx::truetype_file(c.records);
        const FaceResult r = face_of(file);
        EXPECT_EQ(r.rc, RAZIVU_STATUS_OK) << c.rule;
        EXPECT_EQ(r.face, c.expected) << c.rule;
        EXPECT_TRUE(r.in_bounds) << c.rule;
        EXPECT_EQ(fx::expected_face_name(file), c.expected) << c.rule << " (independent reader)";
    }
}

struct LayoutCase {
    const char *what;
    TrueTypeLayout layout;
    int32_t rc;
    std::u16string face;  // when rc is 0
};

TEST(TrueTypeNames, tables_and_bounds) {
    const std::vector<NameRecord> records = {{u"Eng"}};
    const std::string whole = fx::truetype_file(records);
    const auto table_at = static_cast<uint32_t>(12 + 16);
    const std::vector<LayoutCase> cases = {
        {"naming table as the 40th entry", {.tables_before = 39}, 0, u"Eng"},
        {"naming table behind the 40th entry", {.tables_before = 40}, 1, u""},
        {"only the first naming table is read", {.second_name_table = true}, 0, u"Eng"},
        {"no tables", {.num_tables = 0}, 1, u""},
        {"directory shorter than numTables says", {.tables_before = 3, .num_tables = 9, .cut_to = 12 + 16 * 3 + 8}, 1, u""},
        {"offset table cut", {.cut_to = 11}, 1, u""},
        {"naming table outside the file", {.table_offset = 1u << 30}, 1, u""},
        {"naming header cut", {.cut_to = table_at + 5}, 1, u""},
        {"more records than the file holds", {.record_count = 2}, 1, u""},
        {"string cut by the end of the file", {.cut_to = whole.size() - 1}, 1, u""},
    };
    for (const auto &c : cases) {
        const FaceResult r = face_of(fx::truetype_file(records, c.layout));
        EXPECT_EQ(r.rc, c.rc) << c.what;
        if (c.rc == RAZIVU_STATUS_OK) {
            EXPECT_EQ(r.face, c.face) << c.what;
        } else {
            EXPECT_TRUE(r.untouched) << c.what << ": the caller's buffer changed on failure";
        }
    }
    const FaceResult far = face_of(fx::truetype_file({{u"Eng", 0x0409, 1, 3, 4, false, 0xFFF0}}));
    EXPECT_EQ(far.rc, RAZIVU_STATUS_FAILED) << "string offset outside the file";
    const FaceResult huge = face_of(fx::truetype_file({{u"Eng", 0x0409, 1, 3, 4, false, {}, 0xFFFF}}));
    EXPECT_EQ(huge.rc, RAZIVU_STATUS_FAILED) << "string length past the end of the file";
    // Only 255 units are kept, but the whole string must lie inside the file.
    const std::string long_string = fx::truetype_file({{long_name}});
    EXPECT_EQ(face_of(long_string.substr(0, long_string.size() - 2)).rc, RAZIVU_STATUS_FAILED)
        << "the end of a long string cut off";
}

TEST(TrueTypeNames, missing_files_and_arguments_fail) {
    RazivuWChar face[RAZIVU_FACE_NAME_CAP] = {canary};
    EXPECT_EQ(GetTrueTypeFaceName("D:\\no\\such.ttf", face), RAZIVU_STATUS_FAILED);
    EXPECT_EQ(GetTrueTypeFaceName(nullptr, face), RAZIVU_STATUS_FAILED);
    EXPECT_EQ(GetTrueTypeFaceName(fx::dejavu_sans.c_str(), nullptr), RAZIVU_STATUS_FAILED);
    EXPECT_EQ(face[0], canary);
}

// Windows-form paths are mapped like every other path of the library.
TEST(TrueTypeNames, windows_form_paths_are_mapped_below_the_prefix) {
    razivu::test::make_dirs(razivu::test::host("D:\\fonts"));
    write_file(razivu::test::host("D:\\fonts\\a.ttf"), fx::truetype_file({{u"Mapped"}}));
    RazivuWChar face[RAZIVU_FACE_NAME_CAP] = {};
    ASSERT_EQ(GetTrueTypeFaceName("D:\\fonts\\a.ttf", face), RAZIVU_STATUS_OK);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(face)), u"Mapped");
}

TEST(TrueTypeNames, real_fonts_japanese_german_and_english) {
    EXPECT_EQ(face_of(read_file(fx::ipa_gothic)).face, u"IPAゴシック");
    EXPECT_EQ(face_of(read_file(fx::free_sans_bold)).face, u"FreeSans Fett");
    EXPECT_EQ(face_of(read_file(fx::dejavu_sans)).face, u"DejaVu Sans");
}

// Every TrueType and OpenType file installed on the machine, and the
// TrueType files of the Wine package, against the independent reader.
TEST(TrueTypeNames, every_installed_font_agrees_with_an_independent_reader) {
    auto files = fx::files_below("/usr/share/fonts", {".ttf", ".otf", ".ttc"});
    for (const auto &f : fx::files_below(fx::wine_fonts, {".ttf"})) {
        files.push_back(f);
    }
    ASSERT_GE(files.size(), 30u);
    for (const auto &path : files) {
        const std::string bytes = read_file(path);
        const auto expected = fx::expected_face_name(bytes);
        RazivuWChar face[RAZIVU_FACE_NAME_CAP] = {};
        const int32_t rc = GetTrueTypeFaceName(path.c_str(), face);
        ASSERT_EQ(rc, expected ? RAZIVU_STATUS_OK : RAZIVU_STATUS_FAILED) << path;
        if (expected) {
            EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(face)), *expected) << path;
        }
    }
}

// ---- Font resource files --------------------------------------------------------

struct DescriptionResult {
    int32_t rc;
    std::string text;
    bool untouched;
};

DescriptionResult description_of(const std::string &bytes) {
    const std::string path = root() + "/work/module.fon";
    write_file(path, bytes);
    char buf[RAZIVU_DESCRIPTION_CAP + 16];
    std::memset(buf, '#', sizeof buf);
    DescriptionResult r{ReadFontModuleDescription(path.c_str(), buf), {}, buf[0] == '#'};
    EXPECT_EQ(std::string(buf + RAZIVU_DESCRIPTION_CAP, 16), std::string(16, '#'));
    if (!r.untouched) {
        r.text.assign(buf, strnlen(buf, RAZIVU_DESCRIPTION_CAP));
    }
    return r;
}

struct ModuleCase {
    const char *what;
    std::vector<fx::Resource> resources;
    fx::ModuleLayout layout;
    int32_t rc;
};

TEST(FontModules, the_font_directory_is_found_in_the_resource_table) {
    const std::string desc = "FONTRES 100,96,96 : Test 10 (VGA res)";
    const fx::Resource font{0x8008, "", 80, 2};
    const std::vector<ModuleCase> cases = {
        {"FONTDIR of type 7", {font, {}}, {}, 1},
        {"the name compares case-blind", {{.name = "fontdir"}}, {}, 1},
        {"found behind other types and entries", {font, {0x8008, "", 81}, {0x8007, "OTHER"}, {}}, {}, 1},
        {"alignment shift 0", {{}}, {.shift = 0}, 1},
        {"no resources", {}, {}, 0},
        {"FONTDIR of another type", {{.type = 0x8008}}, {}, 0},
        {"an integer id is no name", {{.name = "", .int_id = 7}}, {}, 0},
        {"another name", {{.name = "FONTDIRS"}}, {}, 0},
        {"data outside the file", {{.data_outside = true}}, {}, 0},
        {"empty data", {{.units = 0}}, {}, 0},
    };
    for (const auto &c : cases) {
        const DescriptionResult r = description_of(fx::module_file(desc, c.resources, c.layout));
        EXPECT_EQ(r.rc, c.rc) << c.what;
        EXPECT_EQ(r.text, desc) << c.what << ": the description is handed out when read";
    }
    std::string far_shift = fx::module_file(desc, {{}});
    fx::set_le16(far_shift, 128, razivu::support::max_alignment_shift + 1);
    EXPECT_EQ(description_of(far_shift).rc, 0) << "alignment shift beyond any file";
}

TEST(FontModules, headers_and_entries_outside_the_file_leave_the_buffer_alone) {
    const std::string good = fx::module_file("FONTRES 1,1,1 : X", {{}});
    std::string far_new_header = good;
    fx::set_le32(far_new_header, 60, 0x7FFFFFF0);
    std::string far_names = good;
    fx::set_le32(far_names, 64 + 44, static_cast<uint32_t>(good.size()));
    std::string empty = fx::module_file("", {{}});
    const std::vector<std::pair<const char *, std::string>> cases = {
        {"DOS header cut", good.substr(0, 63)},
        {"new-style header outside the file", far_new_header},
        {"name table at the end of the file", far_names},
        {"description cut", good.substr(0, 128 + 24 + 10)},
    };
    for (const auto &[what, bytes] : cases) {
        const DescriptionResult r = description_of(bytes);
        EXPECT_EQ(r.rc, 0) << what;
        EXPECT_TRUE(r.untouched) << what;
    }
    const DescriptionResult e = description_of(empty);
    EXPECT_EQ(e.rc, 0);
    EXPECT_EQ(e.text, "");
    const DescriptionResult full = description_of(fx::module_file(std::string(255, 'd'), {{}}));
    EXPECT_EQ(full.rc, 1);
    EXPECT_EQ(full.text, std::string(255, 'd'));
    char buf[RAZIVU_DESCRIPTION_CAP];
    EXPECT_EQ(ReadFontModuleDescription(nullptr, buf), 0);
    EXPECT_EQ(ReadFontModuleDescription("D:\\missing.fon", buf), 0);
}

TEST(FontModules, every_wine_font_resource_file_reads_as_an_independent_reader_does) {
    const auto files = fx::files_below(fx::wine_fonts, {".fon"});
    ASSERT_GE(files.size(), 40u);
    for (const auto &path : files) {
        char buf[RAZIVU_DESCRIPTION_CAP] = {};
        EXPECT_EQ(ReadFontModuleDescription(path.c_str(), buf), 1) << path;
        EXPECT_EQ(std::string(buf), fx::expected_description(read_file(path))) << path;
    }
    char buf[RAZIVU_DESCRIPTION_CAP] = {};
    ASSERT_EQ(ReadFontModuleDescription((fx::wine_fonts + "/coure.fon").c_str(), buf), 1);
    EXPECT_STREQ(buf, "FONTRES 100,96,96 : Courier 10 (VGA res)");
}

// ---- Name rules of the install operations -----------------------------------------

TEST(FontEntries, keys_taken_from_descriptions) {
    namespace s = razivu::support;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"FONTRES 100,96,96 : Courier 10 (VGA res)", "Courier 10 (VGA res)"},
        {"FONTRES CONTINUOUSSCALING : Roman", "Roman (Plotter)"},
        {"a:b:c", ":c"},
        {"colon:", ""},
        {"colon:x", ""},
        {"no colon", ""},
        {"x: " + std::string(253, 'n'), std::string(253, 'n')},
        {"CONTINUOUSSCALING: " + std::string(246, 'n'), ""},
    };
    for (const auto &[description, key] : cases) {
        char out[s::profile_text_cap] = {};
        EXPECT_EQ(s::resource_key(description, out), !key.empty()) << description;
        EXPECT_EQ(std::string(out), key) << description;
    }
}

TEST(FontEntries, keys_and_file_names_that_cannot_be_entered) {
    namespace s = razivu::support;
    for (const char *bad : {"a=b", "[boot]", ";x", "line\r\nshell=x", "tab\tname"}) {
        EXPECT_FALSE(s::usable_key(std::string_view(bad))) << bad;
    }
    for (const char16_t *bad : {u"a=b", u"[x", u"\xD800x", u"x\xDC00", u"\xD800"}) {
        EXPECT_FALSE(s::usable_key(std::u16string_view(bad)));
    }
    EXPECT_TRUE(s::usable_key(std::u16string_view(u" (TrueType)")));
    EXPECT_TRUE(s::usable_key(std::u16string_view(u"\xD83D\xDE00 (TrueType)")));
    EXPECT_TRUE(s::usable_key(std::string_view("Courier 10 (VGA res)")));
    for (const char *bad : {"", "ab", "a\\b.ttf", "a/b.ttf", "c:x.ttf", "x\r.ttf"}) {
        EXPECT_FALSE(s::usable_file_name(bad, 3)) << bad;
    }
    EXPECT_TRUE(s::usable_file_name("abc", 3));
    EXPECT_FALSE(s::usable_file_name(std::string(256, 'a').c_str(), 3));
}

}  // namespace
