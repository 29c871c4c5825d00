// Arbitrary bytes of one direction of a connection through the proxy's
// field stream, once whole and once cut into segments the input chooses:
// the fields found, their offsets and the point where decoding stops must
// not depend on how the bytes were cut, and offsets only grow. The first
// field also goes through the server's own reading of a client's fields,
// which must agree with the library's decoders and push nothing.
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
#include "server/fields.h"

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

// The server takes a function name exactly when UnpackFunctionName takes
// the whole field, with the same name; and the size it gives a field (what
// it skips) is what the field's decoder reads whenever it takes the field.
void check_server_fields(std::string_view bytes) {
    namespace fields = razivu::server::fields;
    using namespace razivu_tool;
    if (bytes.size() < static_cast<std::size_t>(fields::header_len) || !fields::is_header(bytes.data())) {
        return;
    }
    const auto size = static_cast<std::size_t>(fields::size_of(bytes.data()));
    if (bytes.size() < size) {
        return;
    }
    const std::string_view f = bytes.substr(0, size);
    std::string name;
    const bool took = fields::function_name(f, name);
    check(COMErrorStackIsEmpty() != 0);
    Field decoded;
    std::size_t taken = 0;
    const bool decoder = read_field(f, decoded, taken) == ReadResult::field;
    drop_errors();
    check(!decoder || taken == size);
    check(took == (decoder && decoded.kind == Kind::function) && (!took || name == decoded.data));
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
    check_server_fields(bytes);
    return 0;
}
