// Byte sources of the font readers: an open file read at offsets, or a block
// of memory. Bounds are checked before every read, so no reader ever asks for
// bytes outside the data.
#include <cstring>

#include "platform/platform.h"
#include "support/fonts_internal.h"

namespace razivu::support {

bool read_exact(const ByteSource &src, uint64_t offset, uint8_t *buf, std::size_t n) {
    if (offset > src.size || n > src.size - offset) {
        return false;
    }
    if (src.file == nullptr) {
        std::memcpy(buf, src.bytes + offset, n);
        return true;
    }
    // offset lies inside the file, whose size fitted a long when it was read.
    return std::fseek(src.file, static_cast<long>(offset), SEEK_SET) == 0 &&
           std::fread(buf, 1, n, src.file) == n;
}

ByteSource memory_source(const uint8_t *bytes, std::size_t n) {
    ByteSource src;
    src.size = n;
    src.bytes = bytes;
    return src;
}

bool open_source(const char *path, ByteSource &src_out) {
    std::FILE *f = platform::open_regular_file(path);
    if (f == nullptr) {
        return false;
    }
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        size = std::ftell(f);
    }
    if (size < 0) {
        std::fclose(f);
        return false;
    }
    src_out = ByteSource{};
    src_out.size = static_cast<uint64_t>(size);
    src_out.file = f;
    return true;
}

void close_source(ByteSource &src) {
    if (src.file != nullptr) {
        std::fclose(src.file);
        src.file = nullptr;
    }
}

}  // namespace razivu::support
