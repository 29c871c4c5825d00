// The install operations end to end in the test's own prefix: real font
// files (some LZ-compressed with mscompress), WIN.INI in the Windows
// directory, and fontconfig with its caches in the test's tree.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "razivu/razivu.h"
#include "support/test_env.h"
#include "unit/fonts_fixtures.h"

namespace {

namespace fx = razivu::test::fonts;
using razivu::test::exists;
using razivu::test::host;
using razivu::test::make_dirs;
using razivu::test::read_file;
using razivu::test::root;
using razivu::test::write_file;

// DejaVu Sans with every "DejaVu" in its names read as "Razivu", so that no
// font of the system carries its face name.
std::string razivu_sans() {
    std::string bytes = read_file(fx::dejavu_sans);
    const std::string from[] = {"DejaVu", std::string("\0D\0e\0j\0a\0V\0u", 12)};
    const std::string to[] = {"Razivu", std::string("\0R\0a\0z\0i\0v\0u", 12)};
    for (int i = 0; i < 2; ++i) {
        for (std::size_t at = bytes.find(from[i]); at != std::string::npos;
             at = bytes.find(from[i], at + 1)) {
            bytes.replace(at, from[i].size(), to[i]);
        }
    }
    return bytes;
}

std::string run(const std::string &command) {
    std::string out;
    if (std::FILE *p = ::popen(command.c_str(), "r")) {
        char chunk[4096];
        std::size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, p)) > 0) {
            out.append(chunk, n);
        }
        ::pclose(p);
    }
    return out;
}

std::vector<std::string> folder(const std::string &windows_path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(host(windows_path), ec)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class FontInstall : public ::testing::Test {
protected:
    // fontconfig of the system's rules (the user's conf.d included) with the
    // caches in the test's tree: as root it would write /var/cache/fontconfig.
    void SetUp() override {
        const std::string conf = root() + "/fonts.conf";
        write_file(conf, "<?xml version=\"1.0\"?>\n<fontconfig>\n"
                         "  <include ignore_missing=\"yes\">/etc/fonts/conf.d</include>\n"
                         "  <cachedir>" + root() + "/fccache</cachedir>\n</fontconfig>\n");
        ::setenv("FONTCONFIG_FILE", conf.c_str(), 1);
        make_dirs(host("D:\\src"));
    }

    // Writes bytes as D:\src\<name>; compressed with mscompress, which names
    // the result <name>_. Returns the Windows-form path of the source.
    static std::string source(const std::string &name, const std::string &bytes,
                              bool compress = false) {
        write_file(host("D:\\src\\" + name), bytes);
        if (!compress) {
            return "D:\\src\\" + name;
        }
        const std::string cmd = "mscompress '" + host("D:\\src\\" + name) + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        return "D:\\src\\" + name + "_";
    }

    static std::string win_ini() { return read_file(host("C:\\WINDOWS\\WIN.INI")); }
    static bool entered(const std::string &line) {
        return win_ini().find("\r\n" + line + "\r\n") != std::string::npos;
    }
    static std::string fc_list() { return run("fc-list -f '%{file}: %{fullname}\\n' 2>&1"); }
};

TEST_F(FontInstall, an_lz_compressed_truetype_font_is_expanded_entered_and_listed) {
    const std::string bytes = razivu_sans();
    const std::string src = source("razivu.ttf", bytes, true);
    ASSERT_NE(read_file(host(src)).substr(0, 4), "\0\1\0\0") << "mscompress made no SZDD file";
    char name[] = "razivu.ttf";
    ASSERT_EQ(InstallTrueTypeFont(src.c_str(), name), RAZIVU_STATUS_OK);
    EXPECT_STREQ(name, "RAZIVU.TTF");
    const std::string target = host("C:\\WINDOWS\\FONTS\\razivu.ttf");
    EXPECT_TRUE(read_file(target) == bytes) << "the target is not the expanded font";
    EXPECT_EQ(folder("C:\\WINDOWS\\FONTS"), std::vector<std::string>{"razivu.ttf"});
    EXPECT_EQ(win_ini(), "[fonts]\r\nRazivu Sans (TrueType)=RAZIVU.ttf\r\n");

    // The running process has the font; the user's next programs list it.
    bool in_process = false;
    if (FcFontSet *set = FcConfigGetFonts(nullptr, FcSetApplication)) {
        for (int i = 0; i < set->nfont; ++i) {
            FcChar8 *file = nullptr;
            if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) == FcResultMatch) {
                in_process = in_process || target == reinterpret_cast<const char *>(file);
            }
        }
    }
    EXPECT_TRUE(in_process);
    const std::string listed = fc_list();
    EXPECT_NE(listed.find(target + ": Razivu Sans"), std::string::npos) << listed;
    const std::string conf =
        read_file(root() + "/home/.config/fontconfig/conf.d/90-razivu-fonts.conf");
    EXPECT_NE(conf.find("<dir>" + host("C:\\WINDOWS\\FONTS") + "</dir>"), std::string::npos);
    EXPECT_FALSE(std::filesystem::is_empty(root() + "/fccache"));
}

TEST_F(FontInstall, real_fonts_are_entered_under_their_japanese_german_or_english_name) {
    struct Case {
        std::string source;
        std::string name;
        std::string upper;
        std::string line;
    };
    const std::vector<Case> cases = {
        {fx::ipa_gothic, "ipag.ttf", "IPAG.TTF", "IPAゴシック (TrueType)=IPAG.ttf"},
        {fx::free_sans_bold, "FreeSansBold.TTF", "FREESANSBOLD.TTF",
         "FreeSans Fett (TrueType)=FREESANSBOLD.ttf"},
        {fx::dejavu_sans, "dv.otf", "DV.OTF", "DejaVu Sans (TrueType)=DV.ttf"},
        {source("empty.ttf", fx::truetype_file({{u"Fam", 0x0409, 1, 3, 1}})), "abc", "ABC",
         "(TrueType)=ttf"},
    };
    for (const auto &c : cases) {
        std::string name = c.name;
        EXPECT_EQ(InstallTrueTypeFont(c.source.c_str(), name.data()), RAZIVU_STATUS_OK) << c.name;
        EXPECT_EQ(name, c.upper);
        EXPECT_TRUE(entered(c.line)) << c.line << "\n" << win_ini();
        const std::string source_bytes = read_file(c.source[0] == '/' ? c.source : host(c.source));
        EXPECT_TRUE(read_file(host("C:\\WINDOWS\\FONTS\\" + c.name)) == source_bytes) << c.name;
    }
    char16_t value[64] = {};
    razivu::platform::fonts_profile_get_w(u"IPAゴシック (TrueType)", value, 64);
    EXPECT_EQ(std::u16string(value), u"IPAG.ttf");
}

TEST_F(FontInstall, a_new_font_replaces_the_installed_one_and_its_entries) {
    make_dirs(host("C:\\WINDOWS"));
    write_file(host("C:\\WINDOWS\\WIN.INI"),
               "[fonts]\r\nFreeSans Fett=X.TTF\r\nOther (TrueType)=X.ttf\r\n");
    char x[] = "x.ttf";
    ASSERT_EQ(InstallTrueTypeFont(fx::free_sans_bold.c_str(), x), RAZIVU_STATUS_OK);
    EXPECT_TRUE(entered("FreeSans Fett (TrueType)=X.ttf"));
    std::strcpy(x, "x.ttf");
    ASSERT_EQ(InstallTrueTypeFont(fx::dejavu_sans.c_str(), x), RAZIVU_STATUS_OK);
    EXPECT_TRUE(read_file(host("C:\\WINDOWS\\FONTS\\x.ttf")) == read_file(fx::dejavu_sans));
    EXPECT_EQ(win_ini(), "[fonts]\r\nOther (TrueType)=X.ttf\r\nDejaVu Sans (TrueType)=X.ttf\r\n");
    // An entry of the old face that names another file is that file's.
    std::strcpy(x, "x.ttf");
    ASSERT_EQ(InstallTrueTypeFont(fx::free_sans_bold.c_str(), x), RAZIVU_STATUS_OK);
    write_file(host("C:\\WINDOWS\\WIN.INI"), "[fonts]\r\nFreeSans Fett (TrueType)=Y.ttf\r\n");
    std::strcpy(x, "x.ttf");
    ASSERT_EQ(InstallTrueTypeFont(fx::dejavu_sans.c_str(), x), RAZIVU_STATUS_OK);
    EXPECT_EQ(win_ini(), "[fonts]\r\nFreeSans Fett (TrueType)=Y.ttf\r\nDejaVu Sans (TrueType)=X.ttf\r\n");
    EXPECT_EQ(folder("C:\\WINDOWS\\FONTS"), std::vector<std::string>{"x.ttf"});
}

// The old steps deleted the installed font before they knew that the new one
// could be read, and reported a failed copy as success.
TEST_F(FontInstall, a_source_that_cannot_be_read_or_copied_changes_nothing_installed) {
    char x[] = "x.ttf";
    ASSERT_EQ(InstallTrueTypeFont(fx::free_sans_bold.c_str(), x), RAZIVU_STATUS_OK);
    const std::string installed = read_file(host("C:\\WINDOWS\\FONTS\\x.ttf"));
    const std::string ini = win_ini();
    const std::string compressed = read_file(host(source("cut.ttf", razivu_sans(), true)));
    const std::vector<std::pair<const char *, std::string>> cases = {
        {"not a font", source("text.ttf", "just some text, no tables at all")},
        {"missing", "D:\\src\\none.ttf"},
        {"compressed data that ends early", source("cut.tt_", compressed.substr(0, 5000))},
        {"naming table cut", source("nt.ttf", fx::truetype_file({{u"Cut"}}, {.cut_to = 40}))},
    };
    for (const auto &[what, src] : cases) {
        std::string name = "x.ttf";
        EXPECT_EQ(InstallTrueTypeFont(src.c_str(), name.data()), RAZIVU_STATUS_FAILED) << what;
        EXPECT_EQ(name, "X.TTF") << what << ": callers rely on the upper-cased name";
        EXPECT_TRUE(read_file(host("C:\\WINDOWS\\FONTS\\x.ttf")) == installed) << what;
        EXPECT_EQ(win_ini(), ini) << what;
        EXPECT_EQ(folder("C:\\WINDOWS\\FONTS"), std::vector<std::string>{"x.ttf"}) << what;
    }
    std::filesystem::remove_all(host("C:\\WINDOWS\\FONTS"));
    write_file(host("C:\\WINDOWS\\FONTS"), "a file where the folder should be");
    std::string name = "y.ttf";
    EXPECT_EQ(InstallTrueTypeFont(fx::dejavu_sans.c_str(), name.data()), RAZIVU_STATUS_FAILED);
    EXPECT_EQ(win_ini(), ini) << "an entry for a font that was not copied";
}

TEST_F(FontInstall, the_same_path_in_any_case_is_refused_before_anything_changes) {
    make_dirs(host("C:\\WINDOWS\\FONTS"));
    write_file(host("C:\\WINDOWS\\FONTS\\same.ttf"), read_file(fx::dejavu_sans));
    write_file(host("C:\\WINDOWS\\SYSTEM\\SAME.FON"), read_file(fx::wine_fonts + "/coure.fon"));
    for (const char *src : {"C:\\WINDOWS\\FONTS\\same.ttf", "c:\\windows\\fonts\\SAME.TTF",
                            "C:\\Windows\\Fonts\\Same.Ttf"}) {
        char name[] = "same.ttf";
        EXPECT_EQ(InstallTrueTypeFont(src, name), RAZIVU_STATUS_FAILED) << src;
        EXPECT_STREQ(name, "same.ttf") << src;
    }
    char fon[] = "same.fon";
    EXPECT_EQ(InstallFontResourceFile("c:\\windows\\system\\Same.Fon", fon), RAZIVU_STATUS_FAILED);
    EXPECT_STREQ(fon, "SAME.FON") << "font resource names are upper-cased first";
    EXPECT_TRUE(read_file(host("C:\\WINDOWS\\FONTS\\same.ttf")) == read_file(fx::dejavu_sans));
    EXPECT_FALSE(exists(host("C:\\WINDOWS\\WIN.INI")));
}

TEST_F(FontInstall, arguments_beyond_the_limits_are_refused_without_a_change) {
    const std::string src = source("ok.ttf", fx::truetype_file({{u"Ok"}}));
    const std::string long_source = "D:\\" + std::string(253, 's');
    const std::vector<std::pair<std::string, std::string>> cases = {
        {src, "ab"},          {src, "a\\b.ttf"},          {src, "a/b.ttf"},
        {src, "c:b.ttf"},     {src, "x\r\n.ttf"},         {src, std::string(240, 'n')},
        {long_source, "ok.ttf"},
    };
    for (const auto &[source_path, file_name] : cases) {
        std::string name = file_name;
        EXPECT_EQ(InstallTrueTypeFont(source_path.c_str(), name.data()), RAZIVU_STATUS_FAILED)
            << file_name;
        EXPECT_EQ(name, file_name);
        EXPECT_EQ(InstallFontResourceFile(source_path.c_str(), name.data()) == RAZIVU_STATUS_OK,
                  false);
    }
    char name[] = "ok.ttf";
    EXPECT_EQ(InstallTrueTypeFont(nullptr, name), RAZIVU_STATUS_FAILED);
    EXPECT_EQ(InstallTrueTypeFont(src.c_str(), nullptr), RAZIVU_STATUS_FAILED);
    EXPECT_EQ(InstallFontResourceFile(nullptr, name), RAZIVU_STATUS_FAILED);
    EXPECT_STREQ(name, "ok.ttf");
    // Keys: 116 units of face name fit "<face> (TrueType)" in 127; 117 do not,
    // nor does a name that would break its profile line.
    const std::vector<std::pair<std::u16string, int32_t>> faces = {
        {std::u16string(116, u'f'), RAZIVU_STATUS_OK},
        {std::u16string(117, u'g'), RAZIVU_STATUS_FAILED},
        {u"A=B", RAZIVU_STATUS_FAILED},
        {u"Evil\r\n[boot]", RAZIVU_STATUS_FAILED},
    };
    for (const auto &[face, rc] : faces) {
        std::string file_name = "k" + std::to_string(face.size()) + ".ttf";
        const std::string path = source(file_name, fx::truetype_file({{face}}));
        EXPECT_EQ(InstallTrueTypeFont(path.c_str(), file_name.data()), rc) << face.size();
    }
    EXPECT_EQ(folder("C:\\WINDOWS\\FONTS"), std::vector<std::string>{"k116.ttf"});
    EXPECT_EQ(win_ini(), "[fonts]\r\n" + std::string(116, 'f') + " (TrueType)=K116.ttf\r\n");
}

TEST_F(FontInstall, font_resource_files_raster_vector_and_entered_already) {
    const std::string coure = read_file(fx::wine_fonts + "/coure.fon");
    const std::string src = source("coure.fon", coure, true);
    char name[] = "coure.fon";
    ASSERT_EQ(InstallFontResourceFile(src.c_str(), name), RAZIVU_STATUS_OK);
    EXPECT_STREQ(name, "COURE.FON");
    EXPECT_TRUE(read_file(host("C:\\WINDOWS\\SYSTEM\\COURE.FON")) == coure);
    EXPECT_TRUE(entered("Courier 10 (VGA res)=COURE.FON")) << win_ini();
    // Debian's configuration rejects bitmap fonts, so fc-list leaves this one
    // out; the folder is a font folder all the same.
    const std::string conf =
        read_file(root() + "/home/.config/fontconfig/conf.d/90-razivu-fonts.conf");
    EXPECT_NE(conf.find("<dir>" + host("C:\\WINDOWS\\SYSTEM") + "</dir>"), std::string::npos);

    char again[] = "other.fon";
    EXPECT_EQ(InstallFontResourceFile(src.c_str(), again), RAZIVU_STATUS_FAILED);
    EXPECT_EQ(folder("C:\\WINDOWS\\SYSTEM"), std::vector<std::string>{"COURE.FON"});

    const std::string vector_font = fx::module_file("FONTRES CONTINUOUSSCALING : Roman", {{}});
    char roman[] = "roman.fon";
    ASSERT_EQ(InstallFontResourceFile(source("roman.fon", vector_font).c_str(), roman),
              RAZIVU_STATUS_OK);
    EXPECT_TRUE(entered("Roman (Plotter)=ROMAN.FON")) << win_ini();

    for (const char *description : {"FONTRES no colon", "FONTRES :", "FONTRES :x", ""}) {
        char n[] = "bad.fon";
        const std::string bad = source("bad.fon", fx::module_file(description, {{}}));
        EXPECT_EQ(InstallFontResourceFile(bad.c_str(), n), RAZIVU_STATUS_FAILED) << description;
    }
    char n[] = "nodir.fon";
    const std::string nodir = source("nodir.fon", fx::module_file("FONTRES : No Dir", {}));
    EXPECT_EQ(InstallFontResourceFile(nodir.c_str(), n), RAZIVU_STATUS_FAILED);
    EXPECT_EQ(folder("C:\\WINDOWS\\SYSTEM"), (std::vector<std::string>{"COURE.FON", "ROMAN.FON"}));
}

}  // namespace
