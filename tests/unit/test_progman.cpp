// CreateProgramGroup and AddProgramItem through a recording DDE call table:
// every command byte for byte with its length, the DDE parameters, the
// status codes, and what is (not) sent after each failure.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "razivu/progman.h"

namespace {

namespace platform = razivu::platform;

// Faults to inject; -1 means none.
struct Faults {
    bool setup = false;        // DdeInitializeA fails
    int no_conversation = -1;  // DdeConnect number n (from 0) finds no server
    int refuse = -1;           // execute transaction number n fails
    bool release = false;      // DdeUninitialize fails
};

// What the library did through the table.
struct Record {
    Faults faults;
    int setups = 0;
    int releases = 0;
    int connects = 0;
    int disconnects = 0;
    int strings = 0;
    int freed = 0;
    std::vector<std::string> sent;
    std::vector<std::string> wrong;  // parameters that differ from the fixed ones
};
Record rec;

char progman_handle;
char conversation_handle;
char data_handle;
constexpr uint32_t instance_id = 7;

void expect(bool ok, const char *what) {
    if (!ok) {
        rec.wrong.emplace_back(what);
    }
}

uint32_t rec_initialize(uint32_t *id, platform::DdeCallback cb, uint32_t flags, uint32_t reserved) {
    expect(*id == 0 && cb == ProgmanDdeCallback && flags == 0x10 && reserved == 0, "initialize");
    ++rec.setups;
    if (rec.faults.setup) {
        return 0x4002;
    }
    *id = instance_id;
    return 0;
}

void *rec_create_string(uint32_t instance, const char *text, int32_t code_page) {
    expect(instance == instance_id && std::strcmp(text, "PROGMAN") == 0 && code_page == 1004,
           "create_string");
    ++rec.strings;
    return &progman_handle;
}

void *rec_connect(uint32_t instance, void *service, void *topic, void *context) {
    expect(instance == instance_id && service == &progman_handle && topic == &progman_handle &&
               context == nullptr,
           "connect");
    return rec.connects++ == rec.faults.no_conversation ? nullptr : &conversation_handle;
}

void *rec_transaction(const char *data, uint32_t len, void *conv, void *item, uint32_t format,
                      uint32_t type, uint32_t timeout, uint32_t *result) {
    expect(conv == &conversation_handle && item == nullptr && format == 1 && type == 0x4050 &&
               timeout == 5000 && result != nullptr,
           "transaction");
    expect(len == std::strlen(data) + 1, "length with the terminating zero");
    rec.sent.emplace_back(data);
    return static_cast<int>(rec.sent.size()) - 1 == rec.faults.refuse ? nullptr : &data_handle;
}

int32_t rec_disconnect(void *conv) {
    expect(conv == &conversation_handle, "disconnect");
    ++rec.disconnects;
    return 1;
}

int32_t rec_free_string(uint32_t instance, void *string) {
    expect(instance == instance_id && string == &progman_handle, "free_string");
    ++rec.freed;
    return 1;
}

int32_t rec_uninitialize(uint32_t instance) {
    expect(instance == instance_id, "uninitialize");
    ++rec.releases;
    return rec.faults.release ? 0 : 1;
}

class Progman : public ::testing::Test {
protected:
    void SetUp() override {
        rec = Record{};
        platform::dde_calls() = {rec_initialize,  rec_create_string, rec_connect,
                                 rec_transaction, rec_disconnect,    rec_free_string,
                                 rec_uninitialize};
    }
    void TearDown() override { platform::reset_dde_calls(); }
};

const std::string show = "[ShowGroup(KOV,1)]";
const std::string create = "[CreateGroup(KOV)]";

std::function<int32_t()> add(const char *cmd, const char *name, const char *icon = nullptr,
                             int32_t index = 0, int32_t x = 0, int32_t y = 0) {
    return [=] { return AddProgramItem(cmd, name, icon, index, x, y); };
}

struct Case {
    const char *what;
    std::function<int32_t()> call;
    Faults faults;
    int32_t status;
    std::vector<std::string> sent;
};

TEST_F(Progman, Commands_statuses_and_DDE_parameters_follow_the_table) {
    const std::string long_name(999, 'n');  // makes "[AddItem( C:\E.EXE , n... )]" 1023 long
    const std::string too_long = long_name + "n";
    const Case cases[] = {
        {"create", CreateProgramGroup, {}, 0, {create}},
        {"two-field form",
         add("C:\\KOV\\ED.EXE", "Editor"),
         {},
         0,
         {show, "[ReplaceItem(Editor)]", "[AddItem( C:\\KOV\\ED.EXE , Editor )]"}},
        {"three-field form",
         add("C:\\KOV\\ED.EXE", "Editor", "C:\\KOV\\ED.ICO"),
         {},
         0,
         {show, "[ReplaceItem(Editor)]",
          "[AddItem( C:\\KOV\\ED.EXE , Editor , C:\\KOV\\ED.ICO )]"}},
        {"four-field form",
         add("C:\\KOV\\ED.EXE", "Editor", "C:\\KOV\\ED.ICO", -2),
         {},
         0,
         {show, "[ReplaceItem(Editor)]",
          "[AddItem( C:\\KOV\\ED.EXE , Editor , C:\\KOV\\ED.ICO, -2 )]"}},
        {"six-field form, index 0 sent",
         add("C:\\KOV\\ED.EXE", "Editor", "C:\\I.ICO", 0, 0, 9),
         {},
         0,
         {show, "[ReplaceItem(Editor)]",
          "[AddItem( C:\\KOV\\ED.EXE , Editor , C:\\I.ICO, 0, 0, 9 )]"}},
        {"six-field form, x only",
         add("C:\\KOV\\ED.EXE", "Editor", "C:\\I.ICO", 1, -1, 0),
         {},
         0,
         {show, "[ReplaceItem(Editor)]",
          "[AddItem( C:\\KOV\\ED.EXE , Editor , C:\\I.ICO, 1, -1, 0 )]"}},
        {"index without icon path: the program's icons",
         add("C:\\KOV\\ED.EXE /p", "Editor", nullptr, 3),
         {},
         0,
         {show, "[ReplaceItem(Editor)]",
          "[AddItem( C:\\KOV\\ED.EXE /p , Editor , C:\\KOV\\ED.EXE, 3 )]"}},
        {"position, empty icon path",
         add("\"C:\\A B\\E.EXE\"", "E", "", 0, 1, 2),
         {},
         0,
         {show, "[ReplaceItem(E)]",
          "[AddItem( \"\"\"C:\\A B\\E.EXE\"\"\" , E , C:\\A B\\E.EXE, 0, 1, 2 )]"}},
        {"empty icon path alone is none",
         add("C:\\E.EXE", "E", ""),
         {},
         0,
         {show, "[ReplaceItem(E)]", "[AddItem( C:\\E.EXE , E )]"}},
        {"no name: the program's",
         add("\"C:\\KOV 2\\ED.X.EXE\" /p", nullptr),
         {},
         0,
         {show, "[ReplaceItem(ED.X)]", "[AddItem( \"\"\"C:\\KOV 2\\ED.X.EXE\"\" /p\" , ED.X )]"}},
        {"names that would end the command are quoted",
         add("C:\\ED.EXE", "Tools, (Beta) [1]"),
         {},
         0,
         {show, "[ReplaceItem(\"Tools, (Beta) [1]\")]",
          "[AddItem( C:\\ED.EXE , \"Tools, (Beta) [1]\" )]"}},
        {"an inner quote alone needs none",
         add("C:\\ED.EXE", "Say \"Hi\""),
         {},
         0,
         {show, "[ReplaceItem(Say \"Hi\")]", "[AddItem( C:\\ED.EXE , Say \"Hi\" )]"}},
        {"1023 characters are sent",
         add("C:\\E.EXE", long_name.c_str()),
         {},
         0,
         {show, "[ReplaceItem(" + long_name + ")]", "[AddItem( C:\\E.EXE , " + long_name + " )]"}},
        {"1024 are refused unsent", add("C:\\E.EXE", too_long.c_str()), {}, 1007, {}},
        {"null command line", add(nullptr, "Editor"), {}, 1, {}},
        {"empty command line", add("", "Editor"), {}, 1, {}},
        {"no name to be found", add("\"\" /x", nullptr), {}, 1, {}},
        {"set-up fails: create", CreateProgramGroup, {true, -1, -1, false}, 1006, {}},
        {"set-up fails: add", add("C:\\ED.EXE", "E"), {true, -1, -1, false}, 1006, {}},
        {"no conversation: create", CreateProgramGroup, {false, 0, -1, false}, 1007, {}},
        {"no conversation: add stops", add("C:\\ED.EXE", "E"), {false, 0, -1, false}, 1007, {}},
        {"refused: create", CreateProgramGroup, {false, -1, 0, false}, 1007, {create}},
        {"refused ShowGroup: nothing further",
         add("C:\\ED.EXE", "E"),
         {false, -1, 0, false},
         1007,
         {show}},
        {"refused ReplaceItem is ignored",
         add("C:\\ED.EXE", "E"),
         {false, -1, 1, false},
         0,
         {show, "[ReplaceItem(E)]", "[AddItem( C:\\ED.EXE , E )]"}},
        {"refused AddItem",
         add("C:\\ED.EXE", "E"),
         {false, -1, 2, false},
         1007,
         {show, "[ReplaceItem(E)]", "[AddItem( C:\\ED.EXE , E )]"}},
        {"release fails: create", CreateProgramGroup, {false, -1, -1, true}, 1, {create}},
        {"release fails after a refusal",
         add("C:\\ED.EXE", "E"),
         {false, -1, 2, true},
         1,
         {show, "[ReplaceItem(E)]", "[AddItem( C:\\ED.EXE , E )]"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        rec.faults = c.faults;
        EXPECT_EQ(c.call(), c.status);
        EXPECT_EQ(rec.sent, c.sent);
        EXPECT_EQ(rec.wrong, std::vector<std::string>{});
        const bool set_up = rec.setups == 1 && !c.faults.setup;
        EXPECT_EQ(rec.releases, set_up ? 1 : 0);
        EXPECT_EQ(rec.freed, rec.strings);  // also when no one answered
        EXPECT_EQ(rec.disconnects, static_cast<int>(rec.sent.size()));
    }
}

TEST_F(Progman, SendProgmanCommand_answers_1_or_0) {
    EXPECT_EQ(SendProgmanCommand(instance_id, "[X]"), 1);
    rec.faults.refuse = 1;
    EXPECT_EQ(SendProgmanCommand(instance_id, "[Y]"), 0);
    EXPECT_EQ(SendProgmanCommand(instance_id, nullptr), 0);
    EXPECT_EQ(rec.sent, (std::vector<std::string>{"[X]", "[Y]"}));
    EXPECT_EQ(rec.freed, 2);
    EXPECT_EQ(rec.wrong, std::vector<std::string>{});
}

}  // namespace
