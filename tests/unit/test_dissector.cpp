// The Wireshark dissector of contrib/ read by tshark: a real call and reply,
// exchanged with `razivu serve`, written as a libpcap capture whose TCP
// segments cut fields in two, must come out as the fields that were sent,
// calls and replies told apart, found by the heuristic and by the port.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "loopback.h"
#include "support/test_env.h"
#include "tool_process.h"

namespace {

namespace test = razivu::test;
using namespace std::string_literals;

// Ports written into the capture (the exchange itself ran on free ones).
constexpr uint16_t client_port = 50123;
constexpr uint16_t server_port = 47999;
constexpr uint32_t client_isn = 1000;
constexpr uint32_t server_isn = 5000;
constexpr int serve_start_tenths = 100;

enum TcpFlags : uint8_t { fin = 0x01, syn = 0x02, psh = 0x08, ack = 0x10 };

void put16(std::string &out, uint16_t v) {
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v & 0xff);
}

void put32(std::string &out, uint32_t v) {
    put16(out, static_cast<uint16_t>(v >> 16));
    put16(out, static_cast<uint16_t>(v & 0xffff));
}

void put32_le(std::string &out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((v >> (8 * i)) & 0xff);
    }
}

uint16_t checksum(const std::string &bytes) {
    uint32_t sum = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const auto hi = static_cast<uint8_t>(bytes[i]);
        const auto lo = i + 1 < bytes.size() ? static_cast<uint8_t>(bytes[i + 1]) : 0;
        sum += static_cast<uint32_t>(hi << 8 | lo);
    }
    while (sum >> 16 != 0) {
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return static_cast<uint16_t>(~sum);
}

// A libpcap capture (link type Ethernet) of one TCP connection on 127.0.0.1.
class Capture {
public:
    Capture() {
        put32_le(bytes_, 0xa1b2c3d4);
        bytes_ += "\x02\x00\x04\x00"s;  // version 2.4
        put32_le(bytes_, 0);            // time zone
        put32_le(bytes_, 0);            // accuracy
        put32_le(bytes_, 65535);        // snapshot length
        put32_le(bytes_, 1);            // Ethernet
    }
    // One segment; from_client says which way it goes.
    void segment(bool from_client, uint8_t flags, const std::string &payload = {}) {
        uint32_t &seq = from_client ? client_seq_ : server_seq_;
        const uint32_t ack_no = from_client ? server_seq_ : client_seq_;
        std::string tcp;
        put16(tcp, from_client ? client_port : server_port);
        put16(tcp, from_client ? server_port : client_port);
        put32(tcp, seq);
        put32(tcp, (flags & ack) != 0 ? ack_no : 0);
        tcp += "\x50"s;  // 20-byte header
        tcp += static_cast<char>(flags);
        put16(tcp, 65535);
        put16(tcp, 0);  // checksum, below
        put16(tcp, 0);  // urgent pointer
        tcp += payload;
        std::string pseudo = "\x7f\x00\x00\x01\x7f\x00\x00\x01\x00\x06"s;
        put16(pseudo, static_cast<uint16_t>(tcp.size()));
        const uint16_t sum = checksum(pseudo + tcp);
        tcp[16] = static_cast<char>(sum >> 8);
        tcp[17] = static_cast<char>(sum & 0xff);
        std::string ip = "\x45\x00"s;
        put16(ip, static_cast<uint16_t>(20 + tcp.size()));
        ip += "\x00\x00\x40\x00\x40\x06\x00\x00\x7f\x00\x00\x01\x7f\x00\x00\x01"s;
        const uint16_t ip_sum = checksum(ip);
        ip[10] = static_cast<char>(ip_sum >> 8);
        ip[11] = static_cast<char>(ip_sum & 0xff);
        const std::string frame = std::string(12, '\0') + "\x08\x00"s + ip + tcp;
        put32_le(bytes_, ++seconds_);
        put32_le(bytes_, 0);
        put32_le(bytes_, static_cast<uint32_t>(frame.size()));
        put32_le(bytes_, static_cast<uint32_t>(frame.size()));
        bytes_ += frame;
        seq += static_cast<uint32_t>(payload.size()) + ((flags & (syn | fin)) != 0 ? 1 : 0);
    }
    const std::string &bytes() const { return bytes_; }

private:
    std::string bytes_;
    uint32_t client_seq_ = client_isn;
    uint32_t server_seq_ = server_isn;
    uint32_t seconds_ = 0;
};

// `razivu serve` on a free port; stopped with SIGTERM at the end.
struct Server {
    uint16_t port = test::free_port();
    pid_t pid = test::run_child([this] {
        const std::string tool = test::tool_path();
        const std::string p = std::to_string(port);
        ::execl(tool.c_str(), tool.c_str(), "serve", "--port", p.c_str(),
                static_cast<char *>(nullptr));
        return 127;
    });
    ~Server() {
        ::kill(pid, SIGTERM);
        test::wait_child(pid, 20);
    }
    int connect() const {
        for (int i = 0; i < serve_start_tenths; ++i, ::usleep(100000)) {
            if (const int fd = test::raw_connect(port); fd >= 0) {
                return fd;
            }
        }
        return -1;
    }
};

TEST(Dissector, tshark_shows_the_fields_of_a_real_call_and_reply_cut_across_segments) {
    if (test::tool_path().empty() || test::shell_output("command -v tshark").empty()) {
        GTEST_SKIP() << "needs the razivu tool and tshark (Debian package tshark)";
    }
    const std::string call = "#00004|Echo|s00005|a b c|i00002|42|a00002|\0\xff|"s;
    Server server;
    const int fd = server.connect();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(test::raw_send(fd, call));
    const std::string reply = test::raw_recv(fd, 40);
    ::close(fd);
    ASSERT_EQ(reply, "r00010|s00005|a b c|i00002|42|a00002|\0\xff|"s);

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
    const std::string pcap = test::root() + "/work/razivu.pcap";
    test::write_file(pcap, cap.bytes());

    const auto source = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
    const std::string tshark =
        "tshark -r '" + pcap + "' -X lua_script:'" + (source / "contrib" / "razivu.lua").string() +
        "' -Y razivu -T fields -E aggregator='~' -e razivu.message -e razivu.tag"
        " -e razivu.length -e razivu.value 2>/dev/null";
    const std::string expected =
        "call\t#\t4\tEcho\n"
        "call\ts~i~a\t5~2~2\ta b c~42~00ff\n"
        "reply\tr\t10\t10\n"
        // the string reassembled from both segments, then the rest of the second
        "reply~reply\ts~i~a\t5~2~2\ta b c~42~00ff\n";
    EXPECT_EQ(test::shell_output(tshark + " -o tcp.try_heuristic_first:TRUE"), expected)
        << "found by the heuristic";
    EXPECT_EQ(test::shell_output(tshark + " -o razivu.ports:" + std::to_string(server_port)),
              expected)
        << "found by the port";
}

}  // namespace
