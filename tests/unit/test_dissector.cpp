// The Wireshark dissector of contrib/ read by tshark: a call and the reply
// `razivu serve` gives (its tests check that reply), written as a libpcap
// capture whose TCP segments cut fields in two, must come out as the fields
// that were sent, calls and replies told apart, found by the heuristic and by
// the port.
#include <cstdint>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace {

namespace test = razivu::test;
using namespace std::string_literals;

// Ports written into the capture.
constexpr uint16_t client_port = 50123;
constexpr uint16_t server_port = 47999;

enum TcpFlags : uint8_t { fin = 0x01, syn = 0x02, psh = 0x08, ack = 0x10 };

// v in n bytes, most significant first unless little.
void put(std::string &out, uint32_t v, int n, bool little = false) {
    for (int i = 0; i < n; ++i) {
        out += static_cast<char>((v >> (8 * (little ? i : n - 1 - i))) & 0xff);
    }
}

// A libpcap capture (link type Ethernet) of one TCP connection on 127.0.0.1.
// tshark checks no checksums unless told to, so they stay 0.
struct Capture {
    std::string bytes;
    uint32_t seq[2] = {1000, 5000};  // the client's, the server's
    uint32_t seconds = 0;

    Capture() {
        for (const uint32_t v : {0xa1b2c3d4u, 0x00040002u, 0u, 0u, 65535u, 1u}) {  // version 2.4, Ethernet
            put(bytes, v, 4, true);
        }
    }
    // One segment; from_client says which way it goes.
    void segment(bool from_client, uint8_t flags, const std::string &payload = {}) {
        uint32_t &next = seq[from_client ? 0 : 1];
        std::string frame = std::string(12, '\0') + "\x08\x00\x45\x00"s;  // Ethernet, IPv4
        put(frame, 40 + static_cast<uint32_t>(payload.size()), 2);
        frame += "\x00\x00\x40\x00\x40\x06\x00\x00\x7f\x00\x00\x01\x7f\x00\x00\x01"s;
        put(frame, from_client ? client_port : server_port, 2);
        put(frame, from_client ? server_port : client_port, 2);
        put(frame, next, 4);
        put(frame, (flags & ack) != 0 ? seq[from_client ? 1 : 0] : 0, 4);
        frame += "\x50"s + static_cast<char>(flags) + "\xff\xff\x00\x00\x00\x00"s + payload;
        for (const uint32_t v : {++seconds, 0u, static_cast<uint32_t>(frame.size()), static_cast<uint32_t>(frame.size())}) {
            put(bytes, v, 4, true);  // the record's time, its length captured and on the wire
        }
        bytes += frame;
        next += static_cast<uint32_t>(payload.size()) + ((flags & (syn | fin)) != 0 ? 1 : 0);
    }
};

TEST(Dissector, tshark_shows_the_fields_of_a_real_call_and_reply_cut_across_segments) {
    if (test::run_command("command -v tshark").status != 0) {
        GTEST_SKIP() << "needs tshark (Debian package tshark)";
    }
    const std::string call = "#00004|Echo|s00005|a b c|i00002|42|a00002|\0\xff|"s;
    const std::string reply = "r00010|s00005|a b c|i00002|42|a00002|\0\xff|"s;

    Capture cap;
    cap.segment(true, syn);
    cap.segment(false, syn | ack);
    cap.segment(true, ack);
    cap.segment(true, psh | ack, call.substr(0, 15));  // cut inside the string's header
    cap.segment(true, psh | ack, call.substr(15));
    cap.segment(false, psh | ack, reply.substr(0, 16));  // cut inside the string's data
    cap.segment(false, psh | ack, reply.substr(16));
    cap.segment(true, fin | ack);
    cap.segment(false, fin | ack);
    test::write_file("razivu.pcap", cap.bytes);

    const auto lua = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "contrib" / "razivu.lua";
    // tshark's warnings go nowhere: only its fields are compared.
    const auto dissected = [&lua](const std::string &option) {
        return test::run_command("{ tshark -r razivu.pcap -X lua_script:'" + lua.string() + "' " + option +
                                 " -Y razivu -T fields -E aggregator='~' -e razivu.message -e razivu.tag"
                                 " -e razivu.length -e razivu.value 2>/dev/null; }")
            .out;
    };
    const std::string expected =
        "call\t#\t4\tEcho\n"
        "call\ts~i~a\t5~2~2\ta b c~42~00ff\n"
        "reply\tr\t10\t10\n"
        // the string reassembled from both segments, then the rest of the second
        "reply~reply\ts~i~a\t5~2~2\ta b c~42~00ff\n";
    EXPECT_EQ(dissected("-o tcp.try_heuristic_first:TRUE"), expected) << "found by the heuristic";
    EXPECT_EQ(dissected("-o razivu.ports:" + std::to_string(server_port)), expected) << "found by the port";
}

}  // namespace
