// The Linux stand-in for Program Manager with real files in the test's own
// XDG folders: what desktop-file-validate and an XML reader (xmllint) say
// about them, the command language, ids and Exec lines, and the tool.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "standins/progman.h"
#include "standins/text.h"
#include "razivu/progman.h"
#include "support/test_env.h"
#include "tool_process.h"

namespace {

using namespace razivu::test;
namespace fs = std::filesystem;
namespace pm = razivu::standins::progman;

// The XDG folders test_main.cpp points to, and the files of a group in them.
std::string data() { return root() + "/home/.local/share"; }
std::string launcher(const std::string &file) { return data() + "/applications/" + file; }
std::string menu_file(const std::string &group) {
    return root() + "/home/.config/menus/applications-merged/razivu-" + group + ".menu";
}
std::string directory_file(const std::string &group) {
    return data() + "/desktop-directories/razivu-" + group + ".directory";
}

// The launchers a group's merged menu includes, as an XML reader sees them;
// then the launcher files. One a line.
std::string read_back(const std::string &group) {
    return run_command("xmllint --xpath \"/Menu[Name='Applications']/Menu[Name='razivu-" + group +
                       "']/Include/Filename/text()\" '" + menu_file(group) + "'").out;
}

std::string launchers() {
    return run_command("(LC_ALL=C ls -A '" + data() + "/applications' 2>/dev/null)").out;
}

// Each test runs in a process and folders of its own; the shell answers
// whatever the caller's environment says.
class ProgmanStandIn : public ::testing::Test {
protected:
    void SetUp() override { ::unsetenv("RAZIVU_PROGMAN"); }
};

TEST_F(ProgmanStandIn, group_and_items_are_valid_desktop_files_with_names_as_given) {
    ASSERT_EQ(CreateProgramGroup(), 0);
    ASSERT_EQ(AddProgramItem("C:\\KOV\\BIN\\EDIT.EXE /p \"a b\" 100%", "Acme Editor (KOV)",
                             "C:\\KOV\\edit.png", 3, 0, 0), 0);
    ASSERT_EQ(AddProgramItem("C:\\KOV\\VIEW.EXE", "Caf\xe9 \"Quote\"", "C:\\KOV\\view.ico", 0, 0,
                             0), 0);
    ASSERT_EQ(AddProgramItem("\"C:\\Program Files\\KOV\\run.exe\" $HOME \\\"x", nullptr, nullptr,
                             0, 4, 5), 0);
    const std::string files[] = {"razivu-kov-acme_20editor_20_28kov_29.desktop",
                                 "razivu-kov-caf_c3_a9_20_22quote_22.desktop", "razivu-kov-run.desktop"};
    const std::string listed = files[0] + "\n" + files[1] + "\n" + files[2] + "\n";
    EXPECT_EQ(launchers(), listed);
    EXPECT_EQ(read_back("kov"), listed);
    EXPECT_EQ(run_command("cd '" + data() + "' && desktop-file-validate applications/*.desktop "
                          "desktop-directories/razivu-kov.directory").out, "");
    const std::string c = root() + "/prefix/drive_c";
    EXPECT_EQ(read_file(launcher(files[0])),
              "[Desktop Entry]\nType=Application\nVersion=1.0\nName=Acme Editor (KOV)\nExec=" + c +
                  "/KOV/BIN/EDIT.EXE /p \"a b\" 100%%\nPath=" + c + "/KOV/BIN\nIcon=" + c +
                  "/KOV/edit.png\nTerminal=false\n");
    const std::string cafe = read_file(launcher(files[1]));
    EXPECT_NE(cafe.find("\nName=Caf\xc3\xa9 \"Quote\"\n"), std::string::npos);
    EXPECT_EQ(cafe.find("Icon="), std::string::npos);  // .ico: not shown
    EXPECT_NE(read_file(launcher(files[2]))
                  .find("\nExec=\"" + c + "/Program Files/KOV/run.exe\" \"\\\\$HOME\" \"\\\\\"x\"\n"),
              std::string::npos);
    EXPECT_EQ(read_file(directory_file("kov")),
              "[Desktop Entry]\nType=Directory\nVersion=1.0\nName=KOV\n");
}

TEST_F(ProgmanStandIn, other_groups_and_foreign_entries_survive_every_edit) {
    uint32_t instance = 0;
    ASSERT_EQ(razivu::platform::dde_calls().initialize(&instance, ProgmanDdeCallback, 0x10, 0), 0u);
    ASSERT_EQ(SendProgmanCommand(instance, "[CreateGroup(Other Tools)][AddItem(C:\\O.EXE,Other)]"), 1);
    ASSERT_EQ(CreateProgramGroup(), 0);
    ASSERT_EQ(AddProgramItem("C:\\V.EXE", "Viewer", nullptr, 0, 0, 0), 0);
    std::string menu = read_file(menu_file("kov"));
    const std::string foreign = "<!-- acme --><Filename>acme-notes.desktop</Filename>";
    menu.insert(menu.find("</Include>"), foreign);
    write_file(menu_file("kov"), menu);
    const std::string other_menu = read_file(menu_file("other_20tools"));
    const std::string other_item = read_file(launcher("razivu-other_20tools-other.desktop"));

    // ReplaceItem then AddItem: one launcher and one entry, whatever the case.
    ASSERT_EQ(AddProgramItem("C:\\E.EXE", "Editor", nullptr, 0, 0, 0), 0);
    ASSERT_EQ(AddProgramItem("C:\\V2.EXE", "VIEWER", nullptr, 0, 0, 0), 0);
    EXPECT_NE(read_file(launcher("razivu-kov-viewer.desktop")).find("/V2.EXE\nPath="),
              std::string::npos);
    EXPECT_EQ(SendProgmanCommand(instance, "[ShowGroup(Missing,1)]"), 0);
    ASSERT_EQ(SendProgmanCommand(instance, "[ShowGroup(KOV,1)][DeleteItem(Editor)]"), 1);
    EXPECT_EQ(read_back("kov"), "acme-notes.desktop\nrazivu-kov-viewer.desktop\n");
    EXPECT_NE(read_file(menu_file("kov")).find("<!-- acme -->"), std::string::npos);
    EXPECT_EQ(read_file(menu_file("other_20tools")), other_menu);
    EXPECT_EQ(read_file(launcher("razivu-other_20tools-other.desktop")), other_item);

    // The group goes; what another program put into its menu stays, and the
    // submenu with it. A group of ours alone goes whole.
    ASSERT_EQ(SendProgmanCommand(instance, "[DeleteGroup(KOV)]"), 1);
    EXPECT_EQ(read_back("kov"), "acme-notes.desktop\n");
    EXPECT_TRUE(fs::exists(directory_file("kov")));
    ASSERT_EQ(SendProgmanCommand(instance, "[DeleteGroup(other tools)]"), 1);
    EXPECT_FALSE(fs::exists(menu_file("other_20tools")));
    EXPECT_FALSE(fs::exists(directory_file("other_20tools")));
    EXPECT_EQ(launchers(), "");
    EXPECT_EQ(razivu::platform::dde_calls().uninitialize(instance), 1);
}

// Without a group, over a foreign or unwritable menu: a refusal, and nothing
// written. (Switched off, the tool gets 1007.)
TEST_F(ProgmanStandIn, refusals_write_nothing) {
    EXPECT_EQ(AddProgramItem("C:\\E.EXE", "E", nullptr, 0, 0, 0), RAZIVU_STATUS_DDE_COMMAND);
    EXPECT_FALSE(fs::exists(data() + "/applications"));
    ASSERT_EQ(CreateProgramGroup(), 0);
    write_file(menu_file("kov"), "<Layout>not a menu</Layout>");
    EXPECT_EQ(AddProgramItem("C:\\E.EXE", "E", nullptr, 0, 0, 0), RAZIVU_STATUS_DDE_COMMAND);
    EXPECT_EQ(read_file(menu_file("kov")), "<Layout>not a menu</Layout>");
    EXPECT_EQ(launchers(), "");
    write_file(root() + "/plain", "");
    ::setenv("XDG_DATA_HOME", (root() + "/plain").c_str(), 1);
    EXPECT_EQ(CreateProgramGroup(), RAZIVU_STATUS_DDE_COMMAND);
}

// DeleteGroup removes launchers of its own naming only, and none through a
// link to another folder, whatever the menu names.
TEST_F(ProgmanStandIn, delete_group_removes_only_its_own_launchers_in_their_own_folder) {
    ASSERT_EQ(CreateProgramGroup(), 0);
    ASSERT_EQ(AddProgramItem("C:\\E.EXE", "E", nullptr, 0, 0, 0), 0);
    fs::create_directories(launcher("razivu-kov-x"));
    write_file(root() + "/victim", "kept");
    std::string menu = read_file(menu_file("kov"));
    menu.insert(menu.find("</Include>"), "<Filename>razivu-kov-x/../../victim</Filename>");
    write_file(menu_file("kov"), menu);
    fs::rename(data() + "/applications", root() + "/elsewhere");
    fs::create_directory_symlink(root() + "/elsewhere", data() + "/applications");
    ASSERT_TRUE(pm::execute("[DeleteGroup(KOV)]"));
    EXPECT_EQ(read_file(root() + "/victim"), "kept");
    EXPECT_TRUE(fs::exists(root() + "/elsewhere/razivu-kov-e.desktop"));
}

// Concurrent edits of one group's menu take turns: none is lost.
TEST_F(ProgmanStandIn, concurrent_items_are_all_in_the_menu) {
    constexpr int n = 40;
    ASSERT_EQ(CreateProgramGroup(), 0);
    EXPECT_EQ(run_together(n, [](int i) {
                  return AddProgramItem("C:\\E.EXE", ("Item" + std::to_string(i)).c_str(), nullptr, 0, 0, 0);
              }), n);
    const std::string listed = read_back("kov");
    EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), n) << listed;
}

TEST_F(ProgmanStandIn, commands_are_carried_out_or_refused_whole) {
    const std::pair<const char *, bool> cases[] = {
        {"[CreateGroup(KOV)]", true}, {" [createGROUP( KOV , 1 )]\r\n", true},
        {"[ShowGroup(\"KOV\",1)][AddItem(C:\\E.EXE,E,,,-1,-1,C:\\KOV,0,1)]", true},
        {"[AddItem(C:\\F.EXE,F,,,-1,-1,KOV,0,1)]", false},  // a relative working folder
        {"[ReplaceItem(e)][AddItem(C:\\E.EXE)]", true}, {"[DeleteItem(E)]", true},
        {"[DeleteItem(E)]", false},  // gone already
        {"[ShowGroup(Missing,1)]", false}, {"[ShowGroup(KOV)]", false},
        {"[ShowGroup(KOV,one)]", false},   {"[AddItem(C:\\E.EXE,E,,x)]", false},
        {"[AddItem(,E)]", false},          {"[Reload]", false},
        {"[CreateGroup()]", false},        {"[CreateGroup(\"\")]", false},
        {"[CreateGroup(KOV)", false},      {"CreateGroup(KOV)", false},
        {"[CreateGroup(a(b))]", false},    {"[CreateGroup(\"a\" b)]", false},
        {"", false},
        {"[CreateGroup(Before)][ShowGroup(Missing,1)][CreateGroup(After)]", false},
    };
    for (const auto &[text, done] : cases) {
        EXPECT_EQ(pm::execute(text), done) << text;
    }
    EXPECT_TRUE(fs::exists(directory_file("before")));
    EXPECT_FALSE(fs::exists(directory_file("after")));  // stopped at the failure
}

// Ids: escapes keep names apart; long names are cut but stay distinct.
TEST(ProgmanFiles, ids_are_distinct_and_exec_lines_quote_arguments) {
    EXPECT_NE(pm::make_id("a-b"), pm::make_id("a_2db"));
    const std::string id = pm::make_id(std::string(200, 'a') + "1");
    EXPECT_LE(id.size(), pm::id_cap);
    EXPECT_NE(id, pm::make_id(std::string(200, 'a') + "2"));
    EXPECT_EQ(id, pm::make_id(std::string(200, 'A') + "1"));
    const std::string c = root() + "/prefix/drive_c";
    const std::pair<const char *, std::string> cases[] = {
        {"C:\\E.EXE", c + "/E.EXE"},
        {"/usr/bin/env  a  \"b c\"", "/usr/bin/env a \"b c\""},
        {"x \"a\\\"b\" c\\\\d 'e' 5%", "x \"a\\\"b\" \"c\\\\\\\\d\" \"'e'\" 5%%"},
        {"x \"\" a\\\\\\\"b", "x \"\" \"a\\\\\\\"b\""},
        {"x a\x01--evil", "x \"a\x01--evil\""},  // written as a blank: one argument all the same
        {"  ", ""},
    };
    for (const auto &[line, exec] : cases) {
        EXPECT_EQ(pm::exec_line(line), exec) << line;
    }
}

using ProgmanTool = Tool;  // skipped when the tool is not built

TEST_F(ProgmanTool, menu_commands_print_the_status_and_its_meaning) {
    const std::string t = "'" + tool_path() + "' menu ";
    const CommandRun ok = run_command(t + "create && " + t + "add 'C:\\E.EXE /x' Editor '' 2 3 4");
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.out, "0 done\n0 done\n");
    EXPECT_EQ(read_back("kov"), "razivu-kov-editor.desktop\n");
    const CommandRun off = run_command("RAZIVU_PROGMAN=off " + t + "create");
    EXPECT_EQ(off.status, 1);
    EXPECT_EQ(off.out.rfind("1007 a command was not carried out", 0), 0u);
    EXPECT_EQ(run_command(t + "add").status, 2);
    EXPECT_EQ(run_command(t + "add C:\\\\E.EXE E I one").status, 2);
}

}  // namespace
