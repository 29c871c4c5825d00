// The font resource reader on arbitrary bytes: the description stays within
// its buffer, is what an independent reader finds, and the font-directory
// walk ends on any resource table.
#include <cstring>
#include <stdexcept>

#include "support/fonts_internal.h"
#include "tests/unit/fonts_fixtures.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    namespace s = razivu::support;
    const s::ByteSource src = s::memory_source(data, size);
    char text[s::description_cap];
    (void)s::has_font_directory(src);
    if (!s::read_module_description(src, text)) {
        return 0;
    }
    std::string expected;
    try {
        expected = razivu::test::fonts::expected_description(
            std::string(reinterpret_cast<const char *>(data), size));
    } catch (const std::out_of_range &) {
        __builtin_trap();  // the library read what lies outside the data
    }
    if (strnlen(text, sizeof text) == sizeof text || text != expected.substr(0, expected.find('\0'))) {
        __builtin_trap();
    }
    return 0;
}
