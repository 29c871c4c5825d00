// razivu dump [CAPTURE]: prints the fields of wire bytes (one side of a
// connection) from a file or standard input, each with its byte offset.
//
// The public decoders read the bytes as they decode, through a receive
// function over the input itself: nothing is held beyond the one field being
// decoded, so any size of input takes the same memory.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <razivu/razivu.h>

#include "cli/commands.h"
#include "cli/escape.h"
#include "cli/options.h"
#include "client/console.h"
#include "client/errors.h"
#include "client/field_print.h"
#include "common/fields.h"

namespace razivu_tool {
namespace {

const Option options[] = {
    {"--json", nullptr, nullptr, "print one JSON document instead of lines"},
    encoding_option,
};

// Process-wide: the input being dumped (the receive slot is a plain function).
struct Input {
    std::FILE *file = nullptr;
    uint64_t pos = 0;  // bytes read so far
    int error = 0;     // errno of a failed read; 0 while none failed
};
Input input;

// Exact counts from the input; fewer only at its end or after a read error.
int32_t input_receive(int32_t, char *buffer, int32_t count) {
    std::size_t got = 0;
    while (got < static_cast<std::size_t>(count) && input.error == 0) {
        const std::size_t n =
            std::fread(buffer + got, 1, static_cast<std::size_t>(count) - got, input.file);
        got += n;
        if (n == 0 && std::ferror(input.file) != 0 && errno == EINTR) {
            std::clearerr(input.file);
        } else if (n == 0) {
            input.error = std::ferror(input.file) != 0 ? errno : 0;
            break;
        }
    }
    input.pos += got;
    return static_cast<int32_t>(got);
}

struct Outcome {
    int status = exit_ok;
    std::string problem;  // empty when every byte was a field
};

Outcome dump_fields(bool json, Encoding encoding, const char *name) {
    FieldsDocument doc(stdout, std::string("\"encoding\":\"") + encoding_name(encoding) + "\",",
                       encoding);
    Outcome o;
    SetTransport(discard_send, input_receive, -1);
    for (;;) {
        const uint64_t at = input.pos;
        Field f;
        const ReadResult r = read_field(input_receive, -1, f);
        if (input.error != 0) {
            o = {exit_io, std::string("cannot read ") + name + ": " + std::strerror(input.error)};
        } else if (r == ReadResult::failed && std::feof(input.file) != 0) {
            o = {exit_failed, "the bytes end inside the field at byte " + std::to_string(at)};
        } else if (r == ReadResult::failed) {
            o = {exit_failed, no_field_at(at, last_header())};
        } else if (r == ReadResult::field) {
            if (json) {
                doc.add(f, at);
            } else {
                std::printf("%8llu  %s\n", static_cast<unsigned long long>(at),
                            field_text(f, encoding).c_str());
            }
            continue;
        }
        break;
    }
    drop_errors();
    if (json) {
        doc.close("\"bytes\":" + std::to_string(input.pos) + ",\"error\":" +
                  (o.problem.empty() ? std::string("null") : json_string(o.problem)));
    }
    return o;
}

}  // namespace

const Help dump_help{
    "dump",
    "[CAPTURE]",
    "print the fields of wire bytes from a file or standard input",
    "CAPTURE holds the bytes one side of a connection sent (a call, a reply, or many);\n"
    "without it, or with -, standard input is read. Each field is printed with the offset\n"
    "of its first byte:\n"
    "  $ printf '#00004|Echo|i00002|42|' | razivu dump\n"
    "         0  function \"Echo\"\n"
    "        12  integer  42\n"
    "The bytes are decoded as they are read, so a capture of any size takes the same\n"
    "memory; the first bytes that are not a field end the dump.\n"
    "\n"
    "Texts are read as --encoding says, as razivu call reads them (razivu help call).\n"
    "With --json the output is one document: encoding, the fields (each with its offset,\n"
    "kind and value, texts with their bytes in hex), bytes (the count read) and error\n"
    "(null, or the message).\n"
    "\n"
    "Exit status: 0 when every byte was part of a field, 1 when the bytes hold something\n"
    "else or end inside a field, 3 when the capture cannot be opened or read.",
    options,
    Operands::files};

int cmd_dump(int argc, char **argv) {
    Args args;
    Encoding encoding = Encoding::utf8;
    if (!parse_args(dump_help, argc, argv, 0, 1, args) ||
        !option_encoding(dump_help, args, encoding)) {
        return exit_usage;
    }
    const bool from_stdin = args.operands.empty() || std::strcmp(args.operands[0], "-") == 0;
    const char *name = from_stdin ? "standard input" : args.operands[0];
    if (from_stdin) {
        binary_stdin();
    }
    input.file = from_stdin ? stdin : std::fopen(name, "rb");
    if (input.file == nullptr) {
        std::fprintf(stderr, "razivu dump: cannot open %s: %s\n", name, std::strerror(errno));
        return exit_io;
    }
    const Outcome o = dump_fields(args.has("--json"), encoding, name);
    if (!from_stdin) {
        std::fclose(input.file);
    }
    if (!o.problem.empty()) {
        std::fflush(stdout);  // the fields before it come first
        std::fprintf(stderr, "razivu dump: %s\n", o.problem.c_str());
    }
    return o.status;
}

}  // namespace razivu_tool
