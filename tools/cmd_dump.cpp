// razivu dump [FILE]: reads wire bytes (a capture of one side of a
// connection) from FILE or standard input and prints its fields one per
// line, as `razivu call` prints a reply. FILE is read in binary mode on every
// system; standard input is whatever the system makes of it. The public decoders do the reading, through a receive function over
// an in-memory copy; the type tag of each field is looked at first to choose
// the decoder. Exit status 1 when the bytes end inside a field or hold
// something that is not a field.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include <razivu/razivu.h>

#include "commands.h"
#include "fields.h"

namespace razivu_tool {
namespace {

constexpr std::size_t read_chunk = 4096;

// The bytes being dumped.
struct Input {
    std::string bytes;    // all of standard input
    std::size_t pos = 0;  // first byte no decoder has read yet
};
Input input;

// A short count at the end of the input, as a closed connection would give.
int32_t memory_receive(int32_t, char *buffer, int32_t count) {
    const std::size_t n = std::min(input.bytes.size() - input.pos, static_cast<std::size_t>(count));
    std::memcpy(buffer, input.bytes.data() + input.pos, n);
    input.pos += n;
    return static_cast<int32_t>(n);
}

void read_all(std::FILE *in) {
    char chunk[read_chunk];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) {
        input.bytes.append(chunk, n);
    }
}

}  // namespace

int cmd_dump(int argc, char **argv) {
    if (argc > 1) {
        std::fprintf(stderr, "usage: razivu dump [CAPTURE]   (standard input without CAPTURE)\n");
        return exit_usage;
    }
    std::FILE *in = argc == 1 ? std::fopen(argv[0], "rb") : stdin;
    if (in == nullptr) {
        std::fprintf(stderr, "razivu dump: cannot open '%s'\n", argv[0]);
        return exit_failed;
    }
    read_all(in);
    if (in != stdin) {
        std::fclose(in);
    }
    SetTransport(discard_send, memory_receive, -1);
    while (input.pos < input.bytes.size()) {
        const std::size_t at = input.pos;
        const char tag = input.bytes[at];
        Field f;
        if (!decode(tag, f)) {
            const std::string why = std::strchr("#sibra", tag) != nullptr && tag != '\0'
                                        ? last_error()
                                        : "not a type tag";
            std::fflush(stdout);  // the fields before it come first
            std::fprintf(stderr, "razivu dump: no field at byte %lu: %s\n",
                         static_cast<unsigned long>(at), why.c_str());
            return exit_failed;
        }
        print(stdout, f);
    }
    return exit_ok;
}

}  // namespace razivu_tool
