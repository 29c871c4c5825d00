// The install operations end to end in the test's own prefix: real font
// files (some LZ-compressed with mscompress), WIN.INI in the Windows
// directory, and fontconfig with its caches in the test's tree.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/platform.h"
#include "razivu/razivu.h"
#include "support/test_env.h"
#include "unit/fonts_fixtures.h"

namespace {

using namespace razivu::test;
namespace fx = razivu::test::fonts;

// The files of a folder below the prefix, one a line.
std::string folder(const std::string &windows_path) {
    return run_command("(LC_ALL=C ls -A '" + host(windows_path) + "' 2>/dev/null)").out;
}

int32_t install_as_x(const std::string &source) {
    char x[] = "x.ttf";
    return InstallTrueTypeFont(source.c_str(), x);
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
    static std::string source(const std::string &name, const std::string &bytes, bool compress = false) {
        write_file(host("D:\\src\\" + name), bytes);
        EXPECT_EQ(compress ? run_command("mscompress '" + host("D:\\src\\" + name) + "'").status : 0, 0);
        return "D:\\src\\" + name + (compress ? "_" : "");
    }

    static std::string win_ini() { return read_file(host("C:\\WINDOWS\\WIN.INI")); }
    static bool entered(const std::string &line) {
        return win_ini().find("\r\n" + line + "\r\n") != std::string::npos;
    }
};

TEST_F(FontInstall, an_lz_compressed_truetype_font_is_expanded_entered_and_listed) {
    ASSERT_NE(FcConfigGetCurrent(), nullptr);  // as in a program that used fontconfig before
    const std::string bytes = read_file(fx::dejavu_sans);
    const std::string src = source("dv.ttf", bytes, true);
    ASSERT_EQ(read_file(host(src)).substr(0, 4), "SZDD") << "mscompress made no SZDD file";
    char name[] = "dv.otf";  // its last three characters become "ttf" in the entry
    ASSERT_EQ(InstallTrueTypeFont(src.c_str(), name), RAZIVU_STATUS_OK);
    const std::string target = host("C:\\WINDOWS\\FONTS\\dv.otf");
    EXPECT_TRUE(read_file(target) == bytes) << "the target is not the expanded font";
    EXPECT_EQ(folder("C:\\WINDOWS\\FONTS"), "dv.otf\n");
    EXPECT_EQ(win_ini(), "[fonts]\r\nDejaVu Sans (TrueType)=DV.ttf\r\n");

    // The running process has the font as its own; the cache is written before
    // anyone lists the fonts, and the user's next programs list it.
    const FcFontSet *own = FcConfigGetFonts(nullptr, FcSetApplication);
    FcChar8 *file = nullptr;
    ASSERT_TRUE(own != nullptr && own->nfont == 1 &&
                FcPatternGetString(own->fonts[0], FC_FILE, 0, &file) == FcResultMatch);
    EXPECT_EQ(reinterpret_cast<const char *>(file), target);
    EXPECT_NE(run_command("ls '" + root() + "/fccache'").out.find(".cache-"), std::string::npos);
    const std::string listed = run_command("fc-list -f '%{file}: %{fullname}\\n'").out;
    EXPECT_NE(listed.find(target + ": DejaVu Sans"), std::string::npos) << listed;
}

TEST_F(FontInstall, a_new_font_replaces_the_installed_one_and_its_entries) {
    make_dirs(host("C:\\WINDOWS"));
    write_file(host("C:\\WINDOWS\\WIN.INI"),
               "[fonts]\r\nFreeSans Fett=X.TTF\r\nOther (TrueType)=X.ttf\r\n");
    ASSERT_EQ(install_as_x(fx::free_sans_bold), RAZIVU_STATUS_OK);
    EXPECT_TRUE(entered("FreeSans Fett (TrueType)=X.ttf"));
    ASSERT_EQ(install_as_x(fx::dejavu_sans), RAZIVU_STATUS_OK);
    EXPECT_TRUE(read_file(host("C:\\WINDOWS\\FONTS\\x.ttf")) == read_file(fx::dejavu_sans));
    EXPECT_EQ(win_ini(), "[fonts]\r\nOther (TrueType)=X.ttf\r\nDejaVu Sans (TrueType)=X.ttf\r\n");
    // An entry of the old face that names another file is that file's.
    ASSERT_EQ(install_as_x(fx::free_sans_bold), RAZIVU_STATUS_OK);
    write_file(host("C:\\WINDOWS\\WIN.INI"), "[fonts]\r\nFreeSans Fett (TrueType)=Y.ttf\r\n");
    ASSERT_EQ(install_as_x(fx::dejavu_sans), RAZIVU_STATUS_OK);
    EXPECT_EQ(win_ini(), "[fonts]\r\nFreeSans Fett (TrueType)=Y.ttf\r\nDejaVu Sans (TrueType)=X.ttf\r\n");
    EXPECT_EQ(folder("C:\\WINDOWS\\FONTS"), "x.ttf\n");
}

// The old steps deleted the installed font before they knew that the new one
// could be read, and reported a failed copy as success.
TEST_F(FontInstall, a_source_that_cannot_be_read_or_copied_changes_nothing_installed) {
    ASSERT_EQ(install_as_x(fx::free_sans_bold), RAZIVU_STATUS_OK);
    const std::string installed = read_file(host("C:\\WINDOWS\\FONTS\\x.ttf"));
    const std::string ini = win_ini();
    const std::string compressed = read_file(host(source("cut.ttf", read_file(fx::dejavu_sans), true)));
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
        EXPECT_EQ(folder("C:\\WINDOWS\\FONTS"), "x.ttf\n") << what;
    }
    std::filesystem::remove_all(host("C:\\WINDOWS\\FONTS"));
    write_file(host("C:\\WINDOWS\\FONTS"), "a file where the folder should be");
    EXPECT_EQ(install_as_x(fx::dejavu_sans), RAZIVU_STATUS_FAILED);
    EXPECT_EQ(win_ini(), ini) << "an entry for a font that was not copied";
}

// Links and FIFOs planted at the target and where the old steps wrote their
// temporary files, which leave a FIFO in the font folder: the installs write
// their own files only, wait for nothing, and no byte or mode outside the
// prefix changes. A link at WIN.INI itself is refused.
TEST_F(FontInstall, planted_links_and_fifos_change_nothing_outside_the_prefix_and_block_nothing) {
    const std::string outside = root() + "/outside";
    write_file(outside, "not a font");
    ::chmod(outside.c_str(), 0600);
    const std::string conf = root() + "/home/.config/fontconfig/conf.d/90-razivu-fonts.conf";
    const std::string planted[] = {host("C:\\WINDOWS\\FONTS\\x.ttf"), host("C:\\WINDOWS\\FONTS\\x.ttf.razivu-tmp"),
                                   host("C:\\WINDOWS\\SYSTEM\\COURE.FON.razivu-tmp"),
                                   host("C:\\WINDOWS\\WIN.INI.razivu-tmp"), conf + ".razivu-tmp"};
    for (const bool fifo : {false, true}) {
        std::filesystem::remove(host("C:\\WINDOWS\\WIN.INI"));
        for (const std::string &p : planted) {
            make_dirs(p.substr(0, p.rfind('/')));
            std::filesystem::remove(p);
            ASSERT_EQ(fifo ? ::mkfifo(p.c_str(), 0666) : ::symlink(outside.c_str(), p.c_str()), 0);
        }
        EXPECT_EQ(run_together(1, [](int) {
                      char coure[] = "coure.fon";
                      return install_as_x(fx::dejavu_sans) +
                             InstallFontResourceFile((fx::wine_fonts + "/coure.fon").c_str(), coure);
                  }), 1) << (fifo ? "FIFOs" : "links");
        EXPECT_TRUE(read_file(host("C:\\WINDOWS\\FONTS\\x.ttf")) == read_file(fx::dejavu_sans));
    }
    EXPECT_EQ(read_file(outside), "not a font");
    EXPECT_EQ(std::filesystem::status(outside).permissions(), std::filesystem::perms(0600));
    const std::string ini = win_ini();
    EXPECT_EQ(ini, "[fonts]\r\nDejaVu Sans (TrueType)=X.ttf\r\nCourier 10 (VGA res)=COURE.FON\r\n");
    std::filesystem::rename(host("C:\\WINDOWS\\WIN.INI"), outside);
    ASSERT_EQ(::symlink(outside.c_str(), host("C:\\WINDOWS\\WIN.INI").c_str()), 0);
    EXPECT_EQ(install_as_x(fx::free_sans_bold), RAZIVU_STATUS_FAILED);
    EXPECT_EQ(read_file(outside), ini);
    // A folder name that would break the XML of the conf file is not listed in it.
    ::setenv("RAZIVU_PREFIX", (root() + "/line\nbreak").c_str(), 1);
    EXPECT_EQ(install_as_x(fx::dejavu_sans), RAZIVU_STATUS_OK);
    EXPECT_EQ(read_file(conf).find("break"), std::string::npos);
}

// Installs take turns where they share a file: no entry is lost, and fonts
// installed under one name at once leave one whole font and its face's entry.
TEST_F(FontInstall, concurrent_installs_lose_no_entry_and_leave_one_font_per_name) {
    constexpr int n = 40;
    std::vector<std::string> sources;
    for (int i = 0; i < n; ++i) {
        const std::string number = std::to_string(i);
        const std::u16string face = u"Face " + std::u16string(number.begin(), number.end());
        sources.push_back(source("c" + number + ".ttf", fx::truetype_file({{face}})));
    }
    EXPECT_EQ(run_together(n, [&](int i) {
                  std::string name = "c" + std::to_string(i) + ".ttf";
                  return InstallTrueTypeFont(sources[static_cast<std::size_t>(i)].c_str(), name.data());
              }), n);
    const std::string ini = win_ini();
    EXPECT_EQ(std::count(ini.begin(), ini.end(), '\n'), n + 1) << ini;
    const std::string fonts[] = {fx::dejavu_sans, fx::free_sans_bold};
    EXPECT_EQ(run_together(8, [&](int i) {
                  char same[] = "same.ttf";
                  return InstallTrueTypeFont(fonts[i % 2].c_str(), same);
              }), 8);
    const std::string same = read_file(host("C:\\WINDOWS\\FONTS\\same.ttf"));
    const bool dejavu = same == read_file(fonts[0]);
    EXPECT_TRUE(dejavu || same == read_file(fonts[1]));
    EXPECT_TRUE(entered((dejavu ? "DejaVu Sans" : "FreeSans Fett") + std::string(" (TrueType)=SAME.ttf")));
    const std::string after = win_ini();
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), n + 2) << after;
}

// A WIN.INI larger than the old 16 MiB cap is read and written whole.
TEST_F(FontInstall, a_large_win_ini_keeps_every_entry) {
    std::string ini = "[windows]\r\nload=x\r\n[fonts]\r\n";
    for (int i = 0; i < 18000; ++i) {
        ini += "Entry" + std::to_string(i) + "=" + std::string(1000, 'v') + "\r\n";
    }
    make_dirs(host("C:\\WINDOWS"));
    write_file(host("C:\\WINDOWS\\WIN.INI"), ini);
    ASSERT_EQ(install_as_x(fx::dejavu_sans), RAZIVU_STATUS_OK);
    EXPECT_TRUE(win_ini() == ini + "DejaVu Sans (TrueType)=X.ttf\r\n");
}

TEST_F(FontInstall, the_same_path_in_any_case_is_refused_before_anything_changes) {
    make_dirs(host("C:\\WINDOWS\\FONTS"));
    make_dirs(host("C:\\WINDOWS\\SYSTEM"));
    write_file(host("C:\\WINDOWS\\FONTS\\same.ttf"), read_file(fx::dejavu_sans));
    write_file(host("C:\\WINDOWS\\SYSTEM\\SAME.FON"), read_file(fx::wine_fonts + "/coure.fon"));
    for (const char *src : {"C:\\WINDOWS\\FONTS\\same.ttf", "c:\\windows\\fonts\\SAME.TTF",
                            "C:\\Windows\\Fonts\\Same.Ttf"}) {
        char name[] = "same.ttf";
        EXPECT_EQ(InstallTrueTypeFont(src, name), RAZIVU_STATUS_FAILED) << src;
        EXPECT_STREQ(name, "same.ttf") << src;
    }
    char fon[] = "same.fon";
    EXPECT_EQ(InstallFontResourceFile("C:\\WINDOWS\\SYSTEM\\SAME.FON", fon), RAZIVU_STATUS_FAILED);
    EXPECT_STREQ(fon, "SAME.FON") << "font resource names are upper-cased first";
    EXPECT_TRUE(read_file(host("C:\\WINDOWS\\FONTS\\same.ttf")) == read_file(fx::dejavu_sans));
    EXPECT_EQ(folder("C:\\WINDOWS\\SYSTEM"), "SAME.FON\n");
    EXPECT_FALSE(exists(host("C:\\WINDOWS\\WIN.INI")));
}

// The key is the face name and " (TrueType)", UTF-8 in WIN.INI: 116 units of
// name fit its 127, 117 do not, nor does a name that would break its profile
// line or has no UTF-8 form. (The plain-C font test refuses the file names.)
TEST_F(FontInstall, keys_are_entered_up_to_their_limits) {
    const std::vector<std::pair<std::u16string, std::string>> faces = {  // face, entry
        {std::u16string(116, u'f'), std::string(116, 'f') + " (TrueType)=K0.ttf"},
        {u"IPAゴシック", "IPAゴシック (TrueType)=K1.ttf"}, {u"\xD83D\xDE00", "\xF0\x9F\x98\x80 (TrueType)=K2.ttf"},
        {u"", "(TrueType)=K3.ttf"},  // a font without a full name
        {std::u16string(117, u'g'), ""}, {u"A=B", ""}, {u"Evil\r\n[boot]", ""}, {u"[x", ""},
        {u" [windows] ", ""}, {u"  ;x", ""}, {u"x\xDC00", ""}, {u"\xD800x", ""}};
    for (std::size_t i = 0; i < faces.size(); ++i) {
        std::string file_name = "k" + std::to_string(i) + ".ttf";
        const std::string path = source(file_name, fx::truetype_file({{faces[i].first}}));
        EXPECT_EQ(InstallTrueTypeFont(path.c_str(), file_name.data()), faces[i].second.empty() ? 1 : 0);
        EXPECT_TRUE(faces[i].second.empty() || entered(faces[i].second)) << faces[i].second;
    }
    EXPECT_EQ(folder("C:\\WINDOWS\\FONTS"), "k0.ttf\nk1.ttf\nk2.ttf\nk3.ttf\n");
    char16_t value[64] = {};
    razivu::platform::fonts_profile_get_w(u"IPAゴシック (TrueType)", value, 64);
    EXPECT_EQ(std::u16string(value), u"K1.ttf");
}

TEST_F(FontInstall, font_resource_files_raster_and_vector) {
    const std::string coure = read_file(fx::wine_fonts + "/coure.fon");
    char name[] = "coure.fon";
    ASSERT_EQ(InstallFontResourceFile(source("coure.fon", coure, true).c_str(), name), 0);
    EXPECT_TRUE(read_file(host("C:\\WINDOWS\\SYSTEM\\COURE.FON")) == coure);
    EXPECT_TRUE(entered("Courier 10 (VGA res)=COURE.FON")) << win_ini();
    // Debian's configuration rejects bitmap fonts, so fc-list leaves this one
    // out; the folder is a font folder all the same.
    EXPECT_NE(read_file(root() + "/home/.config/fontconfig/conf.d/90-razivu-fonts.conf")
                  .find("<dir>" + host("C:\\WINDOWS\\SYSTEM") + "</dir>"),
              std::string::npos);

    // The key: the name two characters past the first colon, " (Plotter)"
    // behind a vector font's, 255 characters at the most.
    const std::string n228(228, 'n');
    const std::vector<std::tuple<std::string, bool, std::string>> cases = {  // font directory?
        {"FONTRES CONTINUOUSSCALING : Roman", true, "Roman (Plotter)"},
        {"a:b:c", true, ":c"},
        {": CONTINUOUSSCALING" + n228, true, "CONTINUOUSSCALING" + n228 + " (Plotter)"},
        {": CONTINUOUSSCALING" + n228 + "n", true, ""},
        {"FONTRES no colon", true, ""}, {"colon:", true, ""}, {"FONTRES :x", true, ""},
        {"", true, ""}, {"FONTRES : No Dir", false, ""}, {"FONTRES :  [windows] ", true, ""},
        {"FONTRES : x\x81", true, ""}, {"FONTRES : Caf\xe9 ", true, "Caf\xc3\xa9"}};  // code page 1252
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto &[description, fontdir, key] = cases[i];
        std::string file_name = "f" + std::to_string(i) + ".fon";
        const std::string src = source(file_name, fx::module_file(description, std::vector<fx::Resource>(fontdir)));
        EXPECT_EQ(InstallFontResourceFile(src.c_str(), file_name.data()), key.empty() ? 1 : 0) << description;
        EXPECT_TRUE(key.empty() || entered(key + "=" + file_name)) << description;
    }
    EXPECT_EQ(folder("C:\\WINDOWS\\SYSTEM"), "COURE.FON\nF0.FON\nF1.FON\nF11.FON\nF2.FON\n");
}

}  // namespace
