// Log files: where a log file resolves to, the tree created on the way, the
// last-resort file, the once-per-process header, level prefixes, timestamps,
// entries whose file calls fail, and host paths on Linux.
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "diagnostics/logfile_internal.h"
#include "platform/platform.h"
#include "razivu/razivu.h"
#include "support/file_faults.h"
#include "support/test_env.h"

namespace {

namespace test = razivu::test;
using test::exists;
using test::FileCall;
using test::FileFault;
using test::host;
using test::make_dirs;
using test::read_text;
using test::write_profile;
using ::testing::HasSubstr;

std::string resolve(const char *module, const char *file) {
    char path[RAZIVU_PATH_CAP] = {};
    GetLogFilePath(module, file, path);
    return path;
}

std::string profile_with(const std::string &install_path) {
    return "[default]\r\nTARNEX_INSTALL_PATH=" + install_path + "\r\n";
}

const std::string stamp_re = "\\[[0-9]{2}\\.[0-9]{2}\\.[0-9]{3}:[0-9]{2}\\.[0-9]{2}\\.[0-9]{2} [0-9]{3}\\]";
const std::string header_re = "-{50}\n" + stamp_re + " KQ-P protocol part 1\n";
const std::string notice = "\nWas unable to open normal log-directory!\nStart of Logging.\n";

bool matches(const std::string &text, const std::string &re) {
    return std::regex_match(text, std::regex(re));
}

std::string dro_log(const char *file) {
    return read_text(host(std::string("C:\\var\\opt\\TARNEX\\dro\\log\\") + file));
}

TEST(LogFilePath, resolves_by_profile_and_module_letter) {
    const struct { const char *profile, *module, *file, *expected; } cases[] = {  // profile nullptr: none
        {nullptr, "KQ-P", "errstack.txt", "C:\\var\\opt\\TARNEX\\dro\\log\\errstack.txt"},
        {"D:\\", "KQ-W", "a.txt", "D:\\var\\opt\\TARNEX\\kov\\log\\a.txt"},
        {"D:\\", "KQ-V module", "a.txt", "D:\\var\\opt\\TARNEX\\kov\\log\\a.txt"},
        {"D:\\", "KQ-P", "a.txt", "D:\\var\\opt\\TARNEX\\dro\\log\\a.txt"},
        {"D:\\", "KQ-w", "a.txt", "D:\\var\\opt\\TARNEX\\dro\\log\\a.txt"},
        {"D:\\", "", "a.txt", "D:\\var\\opt\\TARNEX\\dro\\log\\a.txt"},
        {"D:\\", "KQ-W", nullptr, "D:\\var\\opt\\TARNEX\\kov\\log\\error.txt"},
        {"", "KQ-W", "a.txt", "C:\\var\\opt\\TARNEX\\kov\\log\\a.txt"},
        {"D:\\abcdefghij", "KQ-P", "a.txt", "D:\\abcdefvar\\opt\\TARNEX\\dro\\log\\a.txt"},
        {"D:\\prod", "KQ-W", "x.txt", "D:\\prodvar\\opt\\TARNEX\\kov\\log\\x.txt"},  // the tree made on the way
    };
    make_dirs(host("D:\\"));
    for (const auto &c : cases) {
        if (c.profile != nullptr) {
            write_profile(profile_with(c.profile));
        }
        EXPECT_EQ(resolve(c.module, c.file), c.expected) << (c.profile ? c.profile : "-") << " " << c.module;
        EXPECT_TRUE(exists(host(c.expected))) << c.expected;
    }
    EXPECT_FALSE(exists(host("D:\\prod"))) << "the base itself is never made";
    write_profile("; install tree\r\n[ Default ]\r\n  tarnex_install_path =   D:\\  \r\n");
    EXPECT_EQ(resolve("KQ-W", "x.txt"), "D:\\var\\opt\\TARNEX\\kov\\log\\x.txt") << "case-blind, trimmed";
}

// Entries there follow the notice, except the first, whose header empties the file.
TEST(LogFilePath, unreachable_tree_falls_back_to_c_error_txt_with_a_notice) {
    write_profile(profile_with("Q:\\"));  // no such drive
    EXPECT_EQ(resolve("KQ-P", "x.txt"), "C:\\error.txt");
    EXPECT_EQ(resolve("KQ-P", std::string(1100, 'n').c_str()), "C:\\error.txt") << "never opened cut";
    EXPECT_EQ(read_text(host("C:\\error.txt")), notice + notice);
    WriteLog("x.txt", "KQ-P", 3, "one");
    WriteLog("x.txt", "KQ-P", 3, "two");
    const std::string text = read_text(host("C:\\error.txt"));
    const std::string entry = "\n" + stamp_re + " ERROR: ";
    EXPECT_TRUE(matches(text, header_re + entry + "one\n" + notice + entry + "two\n"))
        << text;
}

// A link or a FIFO that another user planted at a log file's name is never
// written through, emptied or waited on: the entries go to the last-resort file.
TEST(LogFilePath, a_planted_link_or_fifo_is_never_written_through_emptied_or_waited_on) {
    if (test::on_windows) {
        GTEST_SKIP() << "links and FIFOs in the log tree are the Linux stand-in's";
    }
    namespace fs = std::filesystem;
    const std::string victim = host("D:\\victim.txt");
    make_dirs(host("D:\\"));
    test::write_file(victim, "precious\n");
    resolve("KQ-P", "x.txt");
    fs::create_symlink(victim, host("C:\\var\\opt\\TARNEX\\dro\\log\\link.txt"));
    ASSERT_EQ(test::run_command("mkfifo '" + host("C:\\var\\opt\\TARNEX\\dro\\log\\fifo.txt") + "'").status, 0);
    for (const char *file : {"link.txt", "fifo.txt"}) {
        EXPECT_EQ(resolve("KQ-P", file), "C:\\error.txt") << file;
        WriteLog(file, "KQ-P", 1, "entry %s", file);
        ResetLogFile("KQ-P", file);
        WriteLog(file, "KQ-P", 1, "after %s", file);
    }
    EXPECT_EQ(read_text(victim), "precious\n");
    EXPECT_THAT(read_text(host("C:\\error.txt")), HasSubstr(" after fifo.txt\n"));
}

TEST(LogFilePath, nothing_openable_leaves_the_preset_or_the_buffer_and_the_preset_is_cut_to_255) {
    // No tree on drive Q: and a folder where the last-resort file belongs.
    write_profile(profile_with("Q:\\"));
    make_dirs(host("C:\\error.txt"));
    char path[RAZIVU_PATH_CAP] = "untouched";
    GetLogFilePath("KQ-P", "x.txt", path);
    EXPECT_STREQ(path, "untouched");
    const std::string long_path(400, 'p');
    SetDefaultLogFilePath(long_path.c_str());
    SetDefaultLogFilePath(nullptr);  // keeps the preset
    GetLogFilePath("KQ-P", "x.txt", path);
    EXPECT_EQ(std::string(path), long_path.substr(0, 255));
    std::strcpy(path, "untouched");
    GetLogFilePath(nullptr, "x.txt", path);  // no module: the preset only
    EXPECT_EQ(std::string(path), long_path.substr(0, 255));
}

// An absent format does nothing at all, and the header is still due. Long
// messages are cut to the message buffer; a reset empties the file.
TEST(WriteLog, first_entry_of_the_process_empties_the_file_and_writes_the_header) {
    WriteLog("app.txt", "KQ-P", 3, nullptr);
    EXPECT_FALSE(exists(host("C:\\var")));
    EXPECT_EQ(resolve("KQ-P", "app.txt"), "C:\\var\\opt\\TARNEX\\dro\\log\\app.txt");
    test::write_file(host("C:\\var\\opt\\TARNEX\\dro\\log\\app.txt"), "old run\n");
    WriteLog("app.txt", "KQ-P", 1, "first %d", 1);
    WriteLog("app.txt", "KQ-P", 1, "second");
    WriteLog("other.txt", "KQ-P", 1, "elsewhere");
    EXPECT_TRUE(matches(dro_log("app.txt"), header_re + stamp_re + " first 1\n" + stamp_re + " second\n"))
        << dro_log("app.txt");
    EXPECT_TRUE(matches(dro_log("other.txt"), stamp_re + " elsewhere\n")) << dro_log("other.txt");
    WriteLog("other.txt", "KQ-P", 1, "%s", std::string(70000, 'x').c_str());  // cut to the message buffer
    EXPECT_THAT(dro_log("other.txt"), HasSubstr(" " + std::string(63999, 'x') + "\n"));
    EXPECT_THAT(dro_log("other.txt"), ::testing::Not(HasSubstr(std::string(64000, 'x'))));
    ResetLogFile("KQ-P", "other.txt");
    EXPECT_EQ(dro_log("other.txt"), "");
}

TEST(WriteLog, level_chooses_the_prefix) {
    const std::pair<int32_t, std::string> cases[] = {{-3, ""}, {0, ""},       {1, ""},         {2, "ERROR"},
                                                     {3, "ERROR"}, {4, "WARNING"}, {5, ""}, {6, ""}};
    WriteLog("levels.txt", "KQ-P", 1, "header");
    for (const auto &[level, label] : cases) {
        const std::size_t before = dro_log("levels.txt").size();
        WriteLog("levels.txt", "KQ-P", level, "message %s", "text");
        const std::string entry = dro_log("levels.txt").substr(before);
        const std::string re = label.empty() ? stamp_re + " " : "\n" + stamp_re + " " + label + ": ";
        EXPECT_TRUE(matches(entry, re + "message text\n")) << level << ": " << entry;
    }
}

// Resolving the path makes the same opens each time once the tree exists:
// the header's is the next one.
TEST(WriteLog, entries_whose_file_calls_fail_are_dropped_and_a_first_one_leaves_no_header_due) {
    resolve("KQ-P", "h.txt");
    int resolving_opens = 0;
    {
        FileFault counting(FileCall::open_own, 0, 0);
        resolve("KQ-P", "h.txt");
        resolving_opens = counting.calls();
    }
    {
        FileFault fault(FileCall::open_own, resolving_opens + 1, EACCES);
        WriteLog("h.txt", "KQ-P", 1, "first");
    }
    WriteLog("h.txt", "KQ-P", 1, "second");
    EXPECT_TRUE(matches(dro_log("h.txt"), stamp_re + " second\n")) << dro_log("h.txt");
    // An entry whose file calls fail leaves no file open, and the next is written.
    for (const FileCall call : {FileCall::write, FileCall::flush, FileCall::close}) {
        const int before = test::lowest_free_fd();
        {
            FileFault fault(call, 1, ENOSPC);
            WriteLog("h.txt", "KQ-P", 1, "failing");
            EXPECT_GT(fault.calls(), 0) << static_cast<int>(call);
        }
        EXPECT_EQ(test::lowest_free_fd(), before) << static_cast<int>(call);
        WriteLog("h.txt", "KQ-P", 1, "next");
        const std::string text = dro_log("h.txt");
        EXPECT_TRUE(matches(text.substr(text.rfind('\n', text.size() - 2) + 1), stamp_re + " next\n")) << text;
    }
}

TEST(LogTimestamp, fields_and_three_digit_year) {
    std::tm tm{};
    tm.tm_mday = 9, tm.tm_mon = 1, tm.tm_year = 100, tm.tm_hour = 17, tm.tm_min = 4, tm.tm_sec = 35;
    char buf[64];
    EXPECT_STREQ(razivu::diagnostics::format_timestamp(&tm, 120, buf, sizeof buf), "[09.02.100:17.04.35 120]");
    tm.tm_year = 99;
    EXPECT_STREQ(razivu::diagnostics::format_timestamp(&tm, 7, buf, sizeof buf), "[09.02.99:17.04.35 007]");
    EXPECT_EQ(razivu::diagnostics::format_timestamp(nullptr, 7, buf, sizeof buf), nullptr);
    EXPECT_TRUE(matches(GetLogTimestamp(), stamp_re)) << GetLogTimestamp();
}

// A clock past 2038 wraps in a 32-bit time_t (the 32-bit DLL's) to a time
// before 1970, which has no local time there: log entries carry the
// unknown-time stamp and log lines "(time unknown)". A 64-bit one stamps 2038.
TEST(LogTimestamp, a_clock_past_2038_stamps_2038_or_with_a_32_bit_time_t_the_unknown_time) {
    razivu::platform::set_clock([] { return static_cast<std::time_t>(int64_t{1} << 31 | 86400); });
    test::set_env("COMLOGGING", "on");
    WriteLog("late.txt", "KQ-P", 1, "entry");
    COMLogLine("lines.txt", "line");
    razivu::platform::set_clock(nullptr);
    const bool wraps = sizeof(std::time_t) == 4;
    const std::string stamp = wraps ? "\\[--\\.--\\.---:--\\.--\\.-- ---\\]" : "\\[[0-9]{2}\\.01\\.138:[0-9.]{8} [0-9]{3}\\]";
    EXPECT_TRUE(matches(dro_log("late.txt"), "-{50}\n" + stamp + " KQ-P protocol part 1\n" + stamp + " entry\n"))
        << dro_log("late.txt");
    const std::string when = wraps ? "\\(time unknown\\)" : "[A-Z][a-z]{2} Jan [ 0-9]{2} [0-9:]{8} 2038";
    EXPECT_TRUE(matches(read_text("lines.txt"), "line\\. At " + when + "\n \n")) << read_text("lines.txt");
}

// An unreadable directory is reported; the profile is then looked for in C:\Windows.
TEST(WindowsDir, reads_and_reports_an_unreadable_directory) {
    const std::string windows = test::windows_dir();
    char dir[RAZIVU_PATH_CAP];
    EXPECT_EQ(GetWindowsDir(dir, sizeof dir), RAZIVU_STATUS_OK);
    EXPECT_EQ(dir, windows);
    EXPECT_EQ(GetWindowsDir(nullptr, 10), RAZIVU_STATUS_FAILED);
    std::vector<char> small(windows.size(), '#');  // no room for the terminator
    EXPECT_EQ(GetWindowsDir(small.data(), static_cast<int32_t>(small.size())), RAZIVU_STATUS_NO_WINDOWS_DIR);
    EXPECT_EQ(small[0], '\0');
    EXPECT_EQ(GetWindowsDir(dir, static_cast<int32_t>(windows.size() + 1)), RAZIVU_STATUS_OK);
    make_dirs(host("D:\\"));
    make_dirs(host("C:\\Windows"));
    test::write_file(host("C:\\Windows\\tarnex.ini"), profile_with("D:\\"));
    razivu::platform::set_windows_dir_unreadable(true);
    EXPECT_EQ(GetWindowsDir(dir, sizeof dir), RAZIVU_STATUS_NO_WINDOWS_DIR);
    EXPECT_EQ(CheckProfileFile(), 0);
    EXPECT_EQ(resolve("KQ-P", "x.txt"), "D:\\var\\opt\\TARNEX\\dro\\log\\x.txt");
}

// Backslashes separate every path on Linux: a base without a drive letter is
// a folder below the working folder, a UNC path lies below <prefix>/unc, no
// path climbs out of its drive or share, and
// a process without RAZIVU_PREFIX, XDG_DATA_HOME or HOME finds the user's
// home in the password database.
TEST(HostPaths, backslashes_separate_and_unc_paths_and_homes_have_their_places) {
    if (test::on_windows) {
        GTEST_SKIP() << "Windows takes every path as it is";
    }
    write_profile(profile_with("prod\\"));
    make_dirs(test::root() + "/work/prod");  // the base itself is never made
    WriteLog("errstack.txt", "KQ-P", RAZIVU_LOG_ERROR, "entry");
    EXPECT_TRUE(exists(test::root() + "/work/prod/var/opt/TARNEX/dro/log/errstack.txt"));
    char path[RAZIVU_PATH_CAP];
    ASSERT_EQ(GetHostPath("\\\\srv\\share\\a.txt", path, sizeof path), 0);
    EXPECT_EQ(std::string(path), test::root() + "/prefix/unc/srv/share/a.txt");
    ASSERT_EQ(GetHostPath("abc\\setup.exe", path, sizeof path), 0);
    EXPECT_STREQ(path, "abc/setup.exe");
    // As on Windows, no step climbs above a drive's or a share's root.
    const std::string prefix = test::root() + "/prefix";
    for (const auto &[given, mapped] : {std::pair{"C:\\..\\..\\..\\x.ini", "/drive_c/x.ini"},
                                        {"c:..\\..\\x.ini", "/drive_c/x.ini"}, {"C:\\a\\.\\b\\..\\..\\c\\", "/drive_c/c/"},
                                        {"\\\\srv\\share\\..\\..\\x", "/unc/srv/share/x"}}) {
        ASSERT_EQ(GetHostPath(given, path, sizeof path), 0);
        EXPECT_EQ(path, prefix + mapped) << given;
    }
    write_profile(profile_with("C:\\..\\..\\"));
    WriteLog("errstack.txt", "KQ-P", RAZIVU_LOG_ERROR, "entry");
    EXPECT_TRUE(exists(prefix + "/drive_c/var/opt/TARNEX/dro/log/errstack.txt"));
    const pid_t pid = test::run_child([&] {
        for (const char *name : {"RAZIVU_PREFIX", "XDG_DATA_HOME", "HOME"}) {
            test::unset_env(name);
        }
        const std::string want = test::password_home() + "/.local/share/razivu/drive_c/x";
        return GetHostPath("C:\\x", path, sizeof path) == 0 && want == path ? 0 : 1;
    });
    EXPECT_EQ(test::wait_child(pid), 0) << "the password database's home";
}

TEST(AppendDirAndCreate, appends_creates_and_refuses_what_does_not_fit) {
    make_dirs(host("D:\\base"));
    char path[RAZIVU_PATH_CAP] = "D:\\base";
    EXPECT_EQ(AppendDirAndCreate(path, "sub"), 0);
    EXPECT_STREQ(path, "D:\\base\\sub");
    EXPECT_TRUE(std::filesystem::is_directory(host("D:\\base\\sub")));
    std::strcpy(path, "D:\\base");
    EXPECT_EQ(AppendDirAndCreate(path, "sub"), -1);  // exists already
    EXPECT_EQ(AppendDirAndCreate(path, std::string(RAZIVU_PATH_CAP, 'x').c_str()), -1);
    EXPECT_STREQ(path, "D:\\base\\sub");
}

}  // namespace
