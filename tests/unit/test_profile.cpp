// Private profile files with the Win32 rules, through the support library's
// accessors and the INI text functions below them, and what a failing step
// of a write leaves behind.
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "standins/ini.h"
#include "razivu/razivu.h"
#include "support/file_faults.h"
#include "support/test_env.h"

namespace {

using razivu::test::host;
using razivu::test::read_file;
using razivu::test::write_file;

// The value read into a buffer of size bytes; the byte after it stays untouched.
std::string get(const char *section, const char *key, const char *def = "dflt", int32_t size = 256,
                const char *file = "D:\\app.ini") {
    std::vector<char> buf(static_cast<std::size_t>(size) + 1, '#');
    EXPECT_EQ(ProfileGetString(section, key, def, buf.data(), size, file), 0);
    EXPECT_EQ(buf.back(), '#') << "written past a buffer of " << size;
    return std::string(buf.data(), strnlen(buf.data(), static_cast<std::size_t>(size)));
}

class Profile : public ::testing::Test {
protected:
    void SetUp() override {
        razivu::test::make_dirs(host("D:\\"));
        write_file(host("D:\\app.ini"),
                   "; comment=not a key\r\n"
                   "  [ Sec One ]  \r\n"
                   "Key1 = value one  \r\n"
                   "Quoted=\"  q v  \"\r\n"
                   "Single='sq'\r\n"
                   "Unmatched=\"abc\n"
                   "Empty=\r\n"
                   "no equals sign\r\n"
                   "Digits=0123456789\r\n"
                   "[other]\r\n"
                   "key1=other section\r\n"
                   "[sec one]\r\n"
                   "Later=hidden by the first section\r\n");
    }
};

TEST_F(Profile, lookups_follow_the_win32_rules_and_are_cut_to_the_buffer) {
    const struct { const char *section, *key, *expected; } cases[] = {
        {"Sec One", "Key1", "value one"},   {"SEC ONE", "KEY1", "value one"}, {"other", "KEY1", "other section"},
        {"sec one", "Quoted", "  q v  "},   {"sec one", "Single", "sq"},      {"sec one", "Unmatched", "\"abc"},
        {"sec one", "Empty", ""},           {"sec one", "no equals sign", "dflt"},
        {"sec one", "Later", "dflt"},       {"sec one", "comment", "dflt"},   {"missing", "Key1", "dflt"},
        {"sec one", "missing", "dflt"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(get(c.section, c.key), c.expected) << c.section << "/" << c.key;
    }
    // Values and defaults are cut to the buffer.
    EXPECT_EQ(get("sec one", "Digits", "", 5), "0123");
    EXPECT_EQ(get("sec one", "Digits", "", 1), "");
    EXPECT_EQ(get("sec one", "Key1", "dflt", 0), "");  // the byte after the empty buffer is its first
    EXPECT_EQ(get("sec one", "missing", "dflt", 0), "");
    EXPECT_EQ(get("sec one", "missing", "  dflt  "), "  dflt");
    EXPECT_EQ(get("sec one", "missing", nullptr), "");
    EXPECT_EQ(get("sec one", "Key1", "dflt", 256, "D:\\missing.ini"), "dflt");
    EXPECT_EQ(get(nullptr, "Key1", "dflt "), "dflt") << "no section, key or file: the default";
    EXPECT_EQ(get("sec one", nullptr), "dflt");
    EXPECT_EQ(get("sec one", "Key1", "dflt", 256, nullptr), "dflt");
}

TEST_F(Profile, writes_replace_in_place_keeping_the_first_spelling_add_and_delete) {
    // Names and values are checked as they are written, without the blanks
    // around them: none adds a line, a section or a comment.
    const std::string before = read_file(host("D:\\app.ini"));
    const struct { const char *section, *key, *value; } refused[] = {
        {"s\r\n[x", "k", "v"}, {"s", " [windows] ", "v"}, {"s", " ;k", "v"}, {"s", "a=b", "v"},
        {"s", "k", "v\r\nk2=w"}, {"s", " ", "v"}, {"s", "k\x01", "v"}};
    for (const auto &r : refused) {
        EXPECT_EQ(ProfilePutString(r.section, r.key, r.value, "D:\\app.ini"), 1) << r.key << r.value;
    }
    EXPECT_EQ(read_file(host("D:\\app.ini")), before);
    EXPECT_EQ(ProfilePutString(" other ", " KEY1 ", "blanks", "D:\\app.ini"), 0);
    EXPECT_EQ(read_file(host("D:\\app.ini")).find("KEY1"), std::string::npos) << "added again";
    EXPECT_EQ(get("other", "key1"), "blanks");
    EXPECT_EQ(ProfilePutString("SEC ONE", "KEY1", "  new  ", "D:\\app.ini"), 0);
    EXPECT_EQ(get("sec one", "key1"), "new");
    const std::string text = read_file(host("D:\\app.ini"));
    EXPECT_NE(text.find("\r\nKey1=new"), std::string::npos) << text;  // Windows keeps blanks after it
    EXPECT_NE(text.find("; comment=not a key\r\n"), std::string::npos);
    EXPECT_EQ(ProfilePutString("Sec One", "Added", "1", "D:\\app.ini"), 0);
    EXPECT_EQ(ProfilePutString("fresh", "k", "v", "D:\\app.ini"), 0);
    EXPECT_EQ(get("sec one", "Added"), "1");
    EXPECT_EQ(get("fresh", "k"), "v");
    EXPECT_EQ(ProfilePutString("sec one", "Key1", nullptr, "D:\\app.ini"), 0);
    EXPECT_EQ(get("sec one", "Key1"), "dflt");
    EXPECT_EQ(ProfilePutString("sec one", "never there", nullptr, "D:\\app.ini"), 0);
    EXPECT_EQ(ProfilePutString("other", nullptr, nullptr, "D:\\app.ini"), 0);
    EXPECT_EQ(get("other", "key1"), "dflt");
    EXPECT_EQ(get("sec one", "Single"), "sq");
    using razivu::standins::ini::update;  // unrelated lines kept, every line ended with CRLF
    EXPECT_EQ(update("a=1\n[s]\nk=1\n\n[t]\nk=2", "s", "n", "2"), "a=1\r\n[s]\r\nk=1\r\nn=2\r\n\r\n[t]\r\nk=2\r\n");
    EXPECT_EQ(update("[s]\r\nk=1\r\n[t]\r\n", "S", nullptr, nullptr), "[t]\r\n");
}

// A write takes the lock file (the first open), reads the old file whole
// (the second, and the reads to its end), writes the new text beside it (the
// third) and renames it over it.
TEST_F(Profile, a_failing_step_of_a_write_returns_1_and_leaves_the_old_file_alone) {
    if (razivu::test::on_windows) {
        GTEST_SKIP() << "these are the Linux stand-in's steps; Windows writes the file itself";
    }
    using razivu::test::FileCall;
    const std::string before = read_file(host("D:\\app.ini"));
    const std::pair<FileCall, int> steps[] = {{FileCall::open_fd, 1}, {FileCall::open_fd, 2}, {FileCall::open_fd, 3},
                                              {FileCall::read_fd, 2}, {FileCall::write_fd, 1}, {FileCall::sync_fd, 1},
                                              {FileCall::close_fd, 2}, {FileCall::rename_host, 1}};
    for (const auto &[call, nth] : steps) {
        razivu::test::FileFault fault(call, nth, EIO);
        EXPECT_EQ(ProfilePutString("sec one", "Key1", "new", "D:\\app.ini"), 1) << static_cast<int>(call) << nth;
        EXPECT_GE(fault.calls(), nth) << static_cast<int>(call);
        EXPECT_EQ(read_file(host("D:\\app.ini")), before);
        EXPECT_EQ(razivu::test::run_command("ls -A " + host("D:\\") + " | grep -v lock").out, "app.ini\n");
    }
}

// A link or a FIFO at the profile's name is never written through or waited
// on: the write is refused and both stay. The new file takes the old one's
// mode and, where the writer may give it away (root), its owner.
TEST_F(Profile, writes_refuse_links_and_fifos_and_keep_the_mode_and_owner) {
    if (razivu::test::on_windows) {
        GTEST_SKIP() << "links, FIFOs, modes and owners are the Linux stand-in's";
    }
    namespace fs = std::filesystem;
    using razivu::test::run_command;
    const std::string real = "'" + host("D:\\app.ini") + "'";
    fs::create_symlink("app.ini", host("D:\\link.ini"));
    ASSERT_EQ(run_command("mkfifo '" + host("D:\\fifo.ini") + "'").status, 0);
    for (const char *file : {"D:\\link.ini", "D:\\fifo.ini"}) {
        EXPECT_EQ(ProfilePutString("sec one", "Key1", "through", file), 1) << file;
    }
    EXPECT_TRUE(fs::is_symlink(host("D:\\link.ini")) && fs::is_fifo(host("D:\\fifo.ini")));
    EXPECT_EQ(get("sec one", "Key1"), "value one");
    const std::string uid = run_command("id -u").out;
    ASSERT_EQ(run_command("chmod 640 " + real + (uid == "0\n" ? " && chown 65534 " + real : "")).status, 0);
    EXPECT_EQ(ProfilePutString("sec one", "Key1", "new", "D:\\app.ini"), 0);
    EXPECT_EQ(run_command("stat -c %a:%u " + real).out, "640:" + (uid == "0\n" ? "65534\n" : uid));
}

TEST_F(Profile, files_are_created_on_write_in_an_existing_folder_only_and_bare_names_live_in_the_windows_directory) {
    EXPECT_EQ(ProfilePutString("s", "k", "v", "D:\\new.ini"), 0);
    EXPECT_EQ(read_file(host("D:\\new.ini")), "[s]\r\nk=v\r\n");
    EXPECT_EQ(ProfilePutString("s", "k", "v", "D:\\no\\such\\new.ini"), 1);
    EXPECT_EQ(ProfilePutString("s", "k", nullptr, "D:\\absent.ini"), 0);
    EXPECT_FALSE(razivu::test::exists(host("D:\\absent.ini")));
    EXPECT_EQ(ProfilePutString("default", "TARNEX_INSTALL_PATH", "D:\\", "tarnex.ini"), 0);
    EXPECT_EQ(read_file(host("C:\\WINDOWS\\tarnex.ini")), "[default]\r\nTARNEX_INSTALL_PATH=D:\\\r\n");
    char value[10] = {};
    GetProfileValue("default", "TARNEX_INSTALL_PATH", value, sizeof value);
    EXPECT_STREQ(value, "D:\\");
    EXPECT_EQ(CheckProfileFile(), 0);
}

}  // namespace
