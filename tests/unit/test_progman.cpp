// CreateProgramGroup and AddProgramItem through a recording DDE call table:
// every command byte for byte with its length, the DDE parameters, the
// status codes, and what is (not) sent after each failure.
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
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

// What the library did through the table, whose parameters are checked as they come.
struct Record {
    Faults faults;
    int connects = 0;  // DdeConnect calls so far
    int live = 0;      // instances, string handles and conversations not yet released
    std::vector<std::string> sent{};  // the data of every execute transaction
};
Record rec;

char progman_handle, conversation_handle, data_handle;  // the handles handed out
constexpr uint32_t instance_id = 7;

uint32_t rec_initialize(uint32_t *id, platform::DdeCallback cb, uint32_t flags, uint32_t reserved) {
    EXPECT_TRUE(*id == 0 && cb == ProgmanDdeCallback && flags == 0x10 && reserved == 0);
    rec.live += rec.faults.setup ? 0 : 1;
    *id = rec.faults.setup ? 0 : instance_id;
    return rec.faults.setup ? 0x4002 : 0;
}

void *rec_create_string(uint32_t instance, const char *text, int32_t code_page) {
    EXPECT_TRUE(instance == instance_id && std::strcmp(text, "PROGMAN") == 0 && code_page == 1004);
    ++rec.live;
    return &progman_handle;
}

void *rec_connect(uint32_t instance, void *service, void *topic, void *context) {
    EXPECT_TRUE(instance == instance_id && service == &progman_handle && topic == &progman_handle &&
                context == nullptr);
    const bool answered = rec.connects++ != rec.faults.no_conversation;
    rec.live += answered ? 1 : 0;
    return answered ? &conversation_handle : nullptr;
}

void *rec_transaction(const char *data, uint32_t len, void *conv, void *item, uint32_t format,
                      uint32_t type, uint32_t timeout, uint32_t *result) {
    EXPECT_TRUE(conv == &conversation_handle && item == nullptr && format == 1 && type == 0x4050 &&
                timeout == 5000 && result != nullptr);
    EXPECT_EQ(len, std::strlen(data) + 1) << "the length counts the terminating zero";
    rec.sent.emplace_back(data);
    return static_cast<int>(rec.sent.size()) - 1 == rec.faults.refuse ? nullptr : &data_handle;
}

int32_t rec_disconnect(void *conv) {
    EXPECT_EQ(conv, &conversation_handle);
    --rec.live;
    return 1;
}

int32_t rec_free_string(uint32_t instance, void *string) {
    EXPECT_TRUE(instance == instance_id && string == &progman_handle);
    --rec.live;
    return 1;
}

int32_t rec_uninitialize(uint32_t instance) {
    EXPECT_EQ(instance, instance_id);
    --rec.live;
    return rec.faults.release ? 0 : 1;
}

class Progman : public ::testing::Test {
protected:
    void SetUp() override {
        platform::dde_calls() = {rec_initialize,  rec_create_string, rec_connect, rec_transaction,
                                 rec_disconnect, rec_free_string,   rec_uninitialize};
    }
    void TearDown() override { platform::reset_dde_calls(); }
};

const std::string show = "[ShowGroup(KOV,1)]";
const std::string create = "[CreateGroup(KOV)]";

std::function<int32_t()> add(const char *cmd, const char *name, const char *icon = nullptr,
                             int32_t index = 0, int32_t x = 0, int32_t y = 0) {
    return [=] { return AddProgramItem(cmd, name, icon, index, x, y); };
}

// The three commands of an item: ShowGroup, ReplaceItem with the name as
// sent, and the AddItem text.
std::vector<std::string> item(const std::string &name, const std::string &add_item) {
    return {show, "[ReplaceItem(" + name + ")]", add_item};
}

// The commands of item E of C:\ED.EXE whose AddItem ends in tail.
std::vector<std::string> item_e(const std::string &tail) {
    return item("E", "[AddItem( C:\\ED.EXE , E" + tail + " )]");
}

TEST_F(Progman, commands_statuses_and_dde_parameters_follow_the_table) {
    const std::string n999(999, 'n');  // makes "[AddItem( C:\E.EXE , n... )]" 1023 long
    const std::string n1000 = n999 + "n";
    const char *ed = "C:\\ED.EXE";
    // What, the call, the faults injected, its status, the commands sent in order.
    using Case = std::tuple<const char *, std::function<int32_t()>, Faults, int32_t, std::vector<std::string>>;
    const Case cases[] = {
        {"create", CreateProgramGroup, {}, 0, {create}},
        {"two-field form", add(ed, "E"), {}, 0, item_e("")},
        {"three-field form", add(ed, "E", "C:\\I.ICO"), {}, 0, item_e(" , C:\\I.ICO")},
        {"four-field form", add(ed, "E", "C:\\I.ICO", -2), {}, 0, item_e(" , C:\\I.ICO, -2")},
        {"six fields, index 0 sent", add(ed, "E", "C:\\I.ICO", 0, 0, 9), {}, 0, item_e(" , C:\\I.ICO, 0, 0, 9")},
        {"six fields, x only", add(ed, "E", "C:\\I.ICO", 1, -1, 0), {}, 0, item_e(" , C:\\I.ICO, 1, -1, 0")},
        {"index, no icon: the program's", add(ed, "E", nullptr, 3), {}, 0, item_e(" , C:\\ED.EXE, 3")},
        {"empty icon path alone is none", add(ed, "E", ""), {}, 0, item_e("")},
        {"position, empty icon path", add("\"C:\\A B\\E.EXE\"", "E", "", 0, 1, 2), {}, 0,
         item("E", "[AddItem( \"\"\"C:\\A B\\E.EXE\"\"\" , E , C:\\A B\\E.EXE, 0, 1, 2 )]")},
        {"no name: the program's", add("\"C:\\KOV 2\\ED.X.EXE\" /p", nullptr), {}, 0,
         item("ED.X", "[AddItem( \"\"\"C:\\KOV 2\\ED.X.EXE\"\" /p\" , ED.X )]")},
        {"names that would end the command are quoted", add(ed, "Tools, (Beta) [1]"), {}, 0,
         item("\"Tools, (Beta) [1]\"", "[AddItem( C:\\ED.EXE , \"Tools, (Beta) [1]\" )]")},
        {"an inner quote alone needs none", add(ed, "Say \"Hi\""), {}, 0,
         item("Say \"Hi\"", "[AddItem( C:\\ED.EXE , Say \"Hi\" )]")},
        {"1023 characters are sent", add("C:\\E.EXE", n999.c_str()), {}, 0,
         item(n999, "[AddItem( C:\\E.EXE , " + n999 + " )]")},
        {"1024 are refused unsent", add("C:\\E.EXE", n1000.c_str()), {}, 1007, {}},
        {"null command line", add(nullptr, "Editor"), {}, 1, {}},
        {"empty command line", add("", "Editor"), {}, 1, {}},
        {"no name to be found", add("\"\" /x", nullptr), {}, 1, {}},
        {"set-up fails: create", CreateProgramGroup, {.setup = true}, 1006, {}},
        {"set-up fails: add", add(ed, "E"), {.setup = true}, 1006, {}},
        {"no conversation: add stops", add(ed, "E"), {.no_conversation = 0}, 1007, {}},
        {"refused: create", CreateProgramGroup, {.refuse = 0}, 1007, {create}},
        {"refused ShowGroup: nothing further", add(ed, "E"), {.refuse = 0}, 1007, {show}},
        {"refused ReplaceItem is ignored", add(ed, "E"), {.refuse = 1}, 0, item_e("")},
        {"refused AddItem", add(ed, "E"), {.refuse = 2}, 1007, item_e("")},
        {"release fails: create", CreateProgramGroup, {.release = true}, 1, {create}},
        {"release fails after a refusal", add(ed, "E"), {.refuse = 2, .release = true}, 1, item_e("")},
    };
    for (const auto &[what, call, faults, status, sent] : cases) {
        SCOPED_TRACE(what);
        rec = Record{faults};
        EXPECT_EQ(call(), status);
        EXPECT_EQ(rec.sent, sent);
        EXPECT_EQ(rec.live, 0) << "an instance, string handle or conversation left open";
    }
}

TEST_F(Progman, a_null_command_is_not_sent_and_the_callback_answers_nothing) {
    EXPECT_EQ(SendProgmanCommand(instance_id, nullptr), 0);
    EXPECT_EQ(ProgmanDdeCallback(0, 0, nullptr, nullptr, nullptr, nullptr, 0, 0), nullptr);
    EXPECT_TRUE(rec.sent.empty());
}

}  // namespace
