// The LZ expansion copy on Linux: libmspack's SZDD decompressor for
// compressed files, a plain copy for the rest; and the rename and delete that
// put a finished copy into place or drop an unfinished one.
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <mspack.h>

#include "platform/platform.h"
#include "platform/posix/paths.h"

namespace razivu::platform {
namespace {

constexpr unsigned char szdd_magic[] = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33};
constexpr std::size_t copy_chunk = 64 * 1024;

bool is_szdd(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    unsigned char head[sizeof szdd_magic];
    const bool szdd = std::fread(head, 1, sizeof head, f) == sizeof head &&
                      std::memcmp(head, szdd_magic, sizeof head) == 0;
    std::fclose(f);
    return szdd;
}

bool copy_plain(const std::string &from, const std::string &to) {
    std::FILE *in = std::fopen(from.c_str(), "rb");
    if (in == nullptr) {
        return false;
    }
    std::FILE *out = std::fopen(to.c_str(), "wb");
    if (out == nullptr) {
        std::fclose(in);
        return false;
    }
    static_assert(copy_chunk > 0);
    std::string chunk(copy_chunk, '\0');
    bool ok = true;
    std::size_t n = 0;
    while (ok && (n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0) {
        ok = std::fwrite(chunk.data(), 1, n, out) == n;
    }
    ok = ok && std::ferror(in) == 0;
    std::fclose(in);
    return std::fclose(out) == 0 && ok;
}

// The decompressor runs on until its input ends, so an expansion longer than
// the header's length is cut to it; a shorter one means the data ended early.
bool expand_szdd(const std::string &from, const std::string &to) {
    msszdd_decompressor *d = mspack_create_szdd_decompressor(nullptr);
    if (d == nullptr) {
        return false;
    }
    bool ok = false;
    if (msszddd_header *header = d->open(d, from.c_str())) {
        struct stat st {};
        ok = d->extract(d, header, to.c_str()) == MSPACK_ERR_OK &&
             ::stat(to.c_str(), &st) == 0 && st.st_size >= header->length &&
             (st.st_size == header->length || ::truncate(to.c_str(), header->length) == 0);
        d->close(d, header);
    }
    mspack_destroy_szdd_decompressor(d);
    return ok;
}

// The folder the target goes into; FONTS and SYSTEM always exist below a
// Windows directory, so they are made here as the Windows directory is.
void make_parent(const std::string &host_target) {
    const std::size_t slash = host_target.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        ::mkdir(host_target.substr(0, slash).c_str(), 0777);
    }
}

}  // namespace

bool expand_copy(const char *source, const char *target) {
    if (source == nullptr || target == nullptr) {
        return false;
    }
    const std::string from = posix::host_path(source);
    const std::string to = posix::host_path(target);
    if (posix::on_system_drive(target)) {
        posix::ensure_system_drive();
        make_parent(to);
    }
    return is_szdd(from) ? expand_szdd(from, to) : copy_plain(from, to);
}

bool replace_file(const char *from, const char *to) {
    return from != nullptr && to != nullptr &&
           std::rename(posix::host_path(from).c_str(), posix::host_path(to).c_str()) == 0;
}

bool remove_file(const char *path) {
    return path != nullptr && std::remove(posix::host_path(path).c_str()) == 0;
}

}  // namespace razivu::platform
