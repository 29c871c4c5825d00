// Log files: where a log file resolves to, the tree created on the way, the
// last-resort file, the once-per-process header, level prefixes, timestamps.
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "razivu/razivu.h"
#include "diagnostics/logfile_internal.h"
#include "support/test_env.h"

namespace {

using razivu::test::exists;
using razivu::test::host;
using razivu::test::is_dir;
using razivu::test::make_dirs;
using razivu::test::read_file;
using razivu::test::write_profile;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

std::string resolve(const char *module, const char *file) {
    char path[RAZIVU_PATH_CAP] = {};
    GetLogFilePath(module, file, path);
    return path;
}

std::string profile_with(const std::string &install_path) {
    return "[default]\r\nTARNEX_INSTALL_PATH=" + install_path + "\r\n";
}

struct PathCase {
    const char *profile;  // nullptr: no profile file
    const char *module;
    const char *file;
    const char *expected;
};

TEST(LogFilePath, resolves_by_profile_and_module_letter) {
    const std::vector<PathCase> cases = {
        {nullptr, "KQ-P", "errstack.txt", "C:\\var\\opt\\TARNEX\\dro\\log\\errstack.txt"},
        {"D:\\", "KQ-W", "a.txt", "D:\\var\\opt\\TARNEX\\kov\\log\\a.txt"},
        {"D:\\", "KQ-V module", "a.txt", "D:\\var\\opt\\TARNEX\\kov\\log\\a.txt"},
        {"D:\\", "KQ-P", "a.txt", "D:\\var\\opt\\TARNEX\\dro\\log\\a.txt"},
        {"D:\\", "KQ-w", "a.txt", "D:\\var\\opt\\TARNEX\\dro\\log\\a.txt"},
        {"D:\\", "ABC", "a.txt", "D:\\var\\opt\\TARNEX\\dro\\log\\a.txt"},
        {"D:\\", "", "a.txt", "D:\\var\\opt\\TARNEX\\dro\\log\\a.txt"},
        {"D:\\", "KQ-W", nullptr, "D:\\var\\opt\\TARNEX\\kov\\log\\error.txt"},
        {"", "KQ-W", "a.txt", "C:\\var\\opt\\TARNEX\\kov\\log\\a.txt"},
        {"D:\\prod", "KQ-P", "a.txt", "D:\\prodvar\\opt\\TARNEX\\dro\\log\\a.txt"},
        {"D:\\abcdefghij", "KQ-P", "a.txt", "D:\\abcdefvar\\opt\\TARNEX\\dro\\log\\a.txt"},
    };
    make_dirs(host("D:\\"));
    for (const auto &c : cases) {
        if (c.profile != nullptr) {
            write_profile(profile_with(c.profile));
        } else {
            std::remove(host("C:\\WINDOWS\\tarnex.ini").c_str());
        }
        EXPECT_EQ(resolve(c.module, c.file), c.expected)
            << (c.profile ? c.profile : "(no profile)") << " " << c.module;
        EXPECT_TRUE(exists(host(c.expected))) << c.expected;
    }
}

TEST(LogFilePath, profile_names_are_case_blind_and_values_trimmed) {
    make_dirs(host("D:\\"));
    write_profile("; install tree\r\n[ Default ]\r\n  tarnex_install_path =   D:\\  \r\n");
    EXPECT_EQ(resolve("KQ-W", "x.txt"), "D:\\var\\opt\\TARNEX\\kov\\log\\x.txt");
}

TEST(LogFilePath, missing_tree_is_created_step_by_step) {
    make_dirs(host("D:\\"));
    write_profile(profile_with("D:\\prod"));
    EXPECT_EQ(resolve("KQ-W", "x.txt"), "D:\\prodvar\\opt\\TARNEX\\kov\\log\\x.txt");
    for (const char *dir : {"D:\\prodvar", "D:\\prodvar\\opt", "D:\\prodvar\\opt\\TARNEX",
                            "D:\\prodvar\\opt\\TARNEX\\kov", "D:\\prodvar\\opt\\TARNEX\\kov\\log"}) {
        EXPECT_TRUE(is_dir(host(dir))) << dir;
    }
    EXPECT_FALSE(exists(host("D:\\prod")));
}

TEST(LogFilePath, unreachable_tree_falls_back_to_c_error_txt_with_a_notice) {
    write_profile(profile_with("Q:\\"));  // no such drive
    EXPECT_EQ(resolve("KQ-P", "x.txt"), "C:\\error.txt");
    EXPECT_EQ(resolve("KQ-P", "x.txt"), "C:\\error.txt");
    const std::string notice = "\nWas unable to open normal log-directory!\nStart of Logging.\n";
    EXPECT_EQ(read_file(host("C:\\error.txt")), notice + notice);
}

TEST(LogFilePath, nothing_openable_leaves_the_preset_or_the_buffer) {
    // A file where drive C's folder belongs: nothing on C: can be opened.
    make_dirs(razivu::test::root() + "/prefix");
    razivu::test::write_file(razivu::test::root() + "/prefix/drive_c", "not a folder");
    char path[RAZIVU_PATH_CAP] = "untouched";
    GetLogFilePath("KQ-P", "x.txt", path);
    EXPECT_STREQ(path, "untouched");

    SetDefaultLogFilePath("preset.log");
    GetLogFilePath("KQ-P", "x.txt", path);
    EXPECT_STREQ(path, "preset.log");
    std::strcpy(path, "untouched");
    GetLogFilePath(nullptr, "x.txt", path);  // no module: the preset only
    EXPECT_STREQ(path, "preset.log");
    GetLogFilePath("KQ-P", "x.txt", nullptr);  // no buffer: nothing happens
}

TEST(LogFilePath, preset_is_cut_to_255_characters) {
    const std::string long_path(400, 'p');
    SetDefaultLogFilePath(long_path.c_str());
    SetDefaultLogFilePath(nullptr);  // keeps the preset
    char path[RAZIVU_PATH_CAP] = {};
    GetLogFilePath(nullptr, nullptr, path);
    EXPECT_EQ(std::string(path), long_path.substr(0, 255));
}

TEST(LogFilePath, paths_beyond_the_buffer_are_never_opened_cut) {
    const std::string long_name(1100, 'n');
    EXPECT_EQ(resolve("KQ-P", long_name.c_str()), "C:\\error.txt");
}

const char *stamp_re = "\\[[0-9]{2}\\.[0-9]{2}\\.[0-9]{3}:[0-9]{2}\\.[0-9]{2}\\.[0-9]{2} [0-9]{3}\\]";

TEST(WriteLog, first_entry_of_the_process_empties_the_file_and_writes_the_header) {
    const std::string file = host("C:\\var\\opt\\TARNEX\\kov\\log\\app.txt");
    EXPECT_EQ(resolve("KQ-W", "app.txt"), "C:\\var\\opt\\TARNEX\\kov\\log\\app.txt");
    razivu::test::write_file(file, "old run\n");
    WriteLog("app.txt", "KQ-W", 1, "first %d", 1);
    WriteLog("app.txt", "KQ-W", 1, "second");
    WriteLog("other.txt", "KQ-W", 1, "elsewhere");
    const std::string expected = std::string("-{50}\n") + stamp_re + " KQ-W protocol part 1\n" +
                                 stamp_re + " first 1\n" + stamp_re + " second\n";
    EXPECT_TRUE(std::regex_match(read_file(file), std::regex(expected))) << read_file(file);
    const std::string other = read_file(host("C:\\var\\opt\\TARNEX\\kov\\log\\other.txt"));
    EXPECT_TRUE(std::regex_match(other, std::regex(std::string(stamp_re) + " elsewhere\n"))) << other;
}

TEST(WriteLog, level_chooses_the_prefix) {
    struct LevelCase {
        int32_t level;
        std::string prefix;
    };
    const std::vector<LevelCase> cases = {
        {-3, ""}, {0, ""}, {1, ""}, {2, "\nERROR"}, {3, "\nERROR"},
        {4, "\nWARNING"}, {5, ""}, {6, ""},
    };
    WriteLog("levels.txt", "KQ-P", 1, "header");
    const std::string path = host("C:\\var\\opt\\TARNEX\\dro\\log\\levels.txt");
    for (const auto &c : cases) {
        const std::size_t before = read_file(path).size();
        WriteLog("levels.txt", "KQ-P", c.level, "message %s", "text");
        const std::string entry = read_file(path).substr(before);
        std::string re;
        if (c.prefix.empty()) {
            re = std::string(stamp_re) + " message text\n";
        } else {
            re = "\n" + std::string(stamp_re) + " " + c.prefix.substr(1) + ": message text\n";
        }
        EXPECT_TRUE(std::regex_match(entry, std::regex(re))) << c.level << ": " << entry;
    }
}

TEST(WriteLog, absent_format_does_nothing_at_all) {
    WriteLog("none.txt", "KQ-P", 3, nullptr);
    EXPECT_FALSE(exists(host("C:\\var")));
    // The header is still due: the next entry writes it.
    WriteLog("none.txt", "KQ-P", 3, "now");
    EXPECT_THAT(read_file(host("C:\\var\\opt\\TARNEX\\dro\\log\\none.txt")),
                HasSubstr("protocol part 1\n"));
}

TEST(WriteLog, last_resort_entries_follow_the_notice_except_the_first) {
    write_profile(profile_with("Q:\\"));
    WriteLog("x.txt", "KQ-P", 3, "one");
    WriteLog("x.txt", "KQ-P", 3, "two");
    const std::string text = read_file(host("C:\\error.txt"));
    const std::string re = std::string("-{50}\n") + stamp_re + " KQ-P protocol part 1\n\n" +
                           stamp_re + " ERROR: one\n" +
                           "\nWas unable to open normal log-directory!\nStart of Logging.\n\n" +
                           stamp_re + " ERROR: two\n";
    EXPECT_TRUE(std::regex_match(text, std::regex(re))) << text;
}

TEST(WriteLog, long_messages_are_cut_to_the_message_buffer) {
    const std::string big(70000, 'x');
    WriteLog("big.txt", "KQ-P", 1, "%s", big.c_str());
    const std::string text = read_file(host("C:\\var\\opt\\TARNEX\\dro\\log\\big.txt"));
    EXPECT_THAT(text, HasSubstr(" " + std::string(63999, 'x') + "\n"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr(std::string(64000, 'x'))));
}

TEST(ResetLogFile, leaves_the_resolved_file_empty) {
    WriteLog("r.txt", "KQ-P", 1, "something");
    ResetLogFile("KQ-P", "r.txt");
    EXPECT_EQ(read_file(host("C:\\var\\opt\\TARNEX\\dro\\log\\r.txt")), "");
}

TEST(LogTimestamp, fields_and_three_digit_year) {
    std::tm tm{};
    tm.tm_mday = 9;
    tm.tm_mon = 1;
    tm.tm_year = 100;
    tm.tm_hour = 17;
    tm.tm_min = 4;
    tm.tm_sec = 35;
    char buf[64];
    EXPECT_STREQ(razivu::diagnostics::format_timestamp(&tm, 120, buf, sizeof buf),
                 "[09.02.100:17.04.35 120]");
    tm.tm_year = 99;
    EXPECT_STREQ(razivu::diagnostics::format_timestamp(&tm, 7, buf, sizeof buf),
                 "[09.02.99:17.04.35 007]");
    EXPECT_EQ(razivu::diagnostics::format_timestamp(nullptr, 7, buf, sizeof buf), nullptr);

    const char *now = GetLogTimestamp();
    ASSERT_NE(now, nullptr);
    EXPECT_TRUE(std::regex_match(now, std::regex(stamp_re))) << now;
}

TEST(WindowsDir, reads_and_reports_an_unreadable_directory) {
    char dir[RAZIVU_PATH_CAP];
    EXPECT_EQ(GetWindowsDir(dir, sizeof dir), RAZIVU_STATUS_OK);
    EXPECT_STREQ(dir, "C:\\WINDOWS");
    EXPECT_EQ(GetWindowsDir(nullptr, 10), RAZIVU_STATUS_FAILED);
    char small[4] = "xyz";
    EXPECT_EQ(GetWindowsDir(small, sizeof small), RAZIVU_STATUS_NO_WINDOWS_DIR);
    EXPECT_STREQ(small, "");
    razivu::platform::set_windows_dir_unreadable(true);
    EXPECT_EQ(GetWindowsDir(dir, sizeof dir), RAZIVU_STATUS_NO_WINDOWS_DIR);
}

TEST(WindowsDir, unreadable_directory_looks_for_the_profile_in_c_windows) {
    make_dirs(host("D:\\"));
    make_dirs(host("C:\\Windows"));
    razivu::test::write_file(host("C:\\Windows\\tarnex.ini"), profile_with("D:\\"));
    razivu::platform::set_windows_dir_unreadable(true);
    EXPECT_EQ(CheckProfileFile(), 0);
    EXPECT_EQ(resolve("KQ-P", "x.txt"), "D:\\var\\opt\\TARNEX\\dro\\log\\x.txt");
}

TEST(AppendDirAndCreate, appends_creates_and_refuses_what_does_not_fit) {
    make_dirs(host("D:\\"));
    char path[RAZIVU_PATH_CAP] = "D:\\base";
    EXPECT_EQ(razivu::platform::make_dir(path), 0);
    EXPECT_EQ(AppendDirAndCreate(path, "sub"), 0);
    EXPECT_STREQ(path, "D:\\base\\sub");
    EXPECT_TRUE(is_dir(host("D:\\base\\sub")));
    std::strcpy(path, "D:\\base");
    EXPECT_EQ(AppendDirAndCreate(path, "sub"), -1);  // exists already
    const std::string too_long(RAZIVU_PATH_CAP, 'x');
    EXPECT_EQ(AppendDirAndCreate(path, too_long.c_str()), -1);
    EXPECT_STREQ(path, "D:\\base\\sub");
}

}  // namespace
