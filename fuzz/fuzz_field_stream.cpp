// Arbitrary bytes of one direction of a connection through the proxy's
// field stream, once whole and once cut into segments the input chooses:
// the fields found, their offsets and the point where decoding stops must
// not depend on how the bytes were cut, and offsets only grow. The first
// field also goes through the server's quiet decoding, which must take
// exactly what the library's decoder takes and push nothing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <razivu/razivu.h>

#include "tools/client/field_print.h"
#include "tools/common/fields.h"
#include "tools/client/proxy_stream.h"
#include "fuzz/quiet_files.h"

namespace {

using razivu::fuzz::check;
using razivu_tool::FieldStream;

// "offset text" per field, then the problem.
std::vector<std::string> run(std::string_view bytes, std::size_t cut) {
    FieldStream stream;
    std::vector<std::string> out;
    uint64_t last = 0;
    for (std::size_t at = 0; at < bytes.size(); at += cut) {
        for (const FieldStream::Decoded &d : stream.take(bytes.substr(at, cut))) {
            check((out.empty() || d.offset > last) && d.offset < stream.bytes());
            last = d.offset;
            out.push_back(std::to_string(d.offset) + " " + razivu_tool::field_text(d.field, razivu_tool::Encoding::utf8));
        }
    }
    stream.finish();
    check(stream.bytes() == bytes.size());
    out.push_back(stream.problem());
    return out;
}

// decode_whole pushes nothing, and takes a field exactly when the decoder
// takes all of it, with the same value.
void check_decode_whole(std::string_view bytes) {
    using namespace razivu_tool;
    int32_t size = 0;
    if (bytes.size() < field_header_len || !field_size(bytes.data(), size) ||
        bytes.size() < static_cast<std::size_t>(size)) {
        check(COMErrorStackIsEmpty() != 0);
        return;
    }
    const std::string_view f = bytes.substr(0, static_cast<std::size_t>(size));
    Field quiet;
    const bool took = decode_whole(f, quiet);
    check(COMErrorStackIsEmpty() != 0);
    Field loud;
    std::size_t taken = 0;
    const bool decoder = is_type_tag(f[0]) && read_field(f, loud, taken) == ReadResult::field && taken == f.size();
    drop_errors();
    check(took == decoder && (!took || field_text(quiet, Encoding::utf8) == field_text(loud, Encoding::utf8)));
}

}  // namespace

// Input layout: one byte choosing the segment size (1 to 256), then the bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    razivu::fuzz::quiet_files();
    if (size < 2) {
        return 0;
    }
    const std::string_view bytes(reinterpret_cast<const char *>(data + 1), size - 1);
    const std::size_t cut = 1 + data[0];
    check(run(bytes, bytes.size()) == run(bytes, cut));
    razivu_tool::drop_errors();
    check_decode_whole(bytes);
    return 0;
}
