// The TrueType name reader on arbitrary bytes: a name it reads is terminated
// within the buffer and is the one an independent reader of the data chooses.
#include <stdexcept>

#include "support/fonts_internal.h"
#include "tests/unit/fonts_fixtures.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    namespace s = razivu::support;
    char16_t face[s::face_name_cap + 1];
    face[s::face_name_cap] = u'#';
    if (!s::read_face_name(s::memory_source(data, size),
                           reinterpret_cast<char16_t(&)[s::face_name_cap]>(face))) {
        return 0;
    }
    const std::u16string got(face);
    std::optional<std::u16string> expected = got;
    try {
        expected = razivu::test::fonts::expected_face_name(
            std::string(reinterpret_cast<const char *>(data), size));
    } catch (const std::out_of_range &) {
        // A later record the reader never had to read lies outside the data.
    }
    if (face[s::face_name_cap] != u'#' || got.size() > s::face_name_max || expected != got) {
        __builtin_trap();
    }
    return 0;
}
