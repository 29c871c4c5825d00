// The LZ expansion copy on Linux: libmspack's SZDD decompressor for
// compressed files, a plain copy for the rest.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>

#include <mspack.h>

#include "platform/file_calls.h"
#include "standins/files.h"
#include "standins/fonts.h"

namespace razivu::standins {
namespace {

constexpr unsigned char szdd_magic[] = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33};
constexpr std::size_t copy_chunk = 64 * 1024;
// A copy is created as fopen would create it: everyone's, less the umask.
constexpr mode_t copy_mode = 0666;

platform::FileCalls &fs() {
    return platform::file_calls();
}

int open_retrying(const std::string &path, int flags, mode_t mode) {
    int fd = -1;
    do {
        fd = fs().open_fd(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Reads up to n bytes, retrying interrupted reads; the count, or -1.
ssize_t read_some(int fd, void *buf, std::size_t n) {
    ssize_t got = 0;
    do {
        got = fs().read_fd(fd, buf, n);
    } while (got < 0 && errno == EINTR);
    return got;
}

bool is_szdd(const std::string &path) {
    const int fd = open_retrying(path, O_RDONLY, 0);
    if (fd < 0) {
        return false;
    }
    unsigned char head[sizeof szdd_magic];
    const bool szdd = read_some(fd, head, sizeof head) == static_cast<ssize_t>(sizeof head) &&
                      std::memcmp(head, szdd_magic, sizeof head) == 0;
    fs().close_fd(fd);
    return szdd;
}

bool copy_plain(const std::string &from, const std::string &to) {
    const int in = open_retrying(from, O_RDONLY, 0);
    if (in < 0) {
        return false;
    }
    const int out = open_retrying(to, O_WRONLY | O_CREAT | O_TRUNC, copy_mode);
    if (out < 0) {
        fs().close_fd(in);
        return false;
    }
    std::string chunk(copy_chunk, '\0');
    bool ok = true;
    ssize_t n = 0;
    while (ok && (n = read_some(in, chunk.data(), chunk.size())) > 0) {
        ok = write_all(out, std::string_view(chunk.data(), static_cast<std::size_t>(n)));
    }
    ok = ok && n == 0;
    fs().close_fd(in);
    return fs().close_fd(out) == 0 && ok;
}

// The decompressor runs on until its input ends, so an expansion longer than
// the header's length is cut to it; a shorter one means the data ended early.
// libmspack reads and writes the files itself.
bool expand_szdd(const std::string &from, const std::string &to) {
    msszdd_decompressor *d = mspack_create_szdd_decompressor(nullptr);
    if (d == nullptr) {
        return false;
    }
    bool ok = false;
    if (msszddd_header *header = d->open(d, from.c_str())) {
        ok = d->extract(d, header, to.c_str()) == MSPACK_ERR_OK;
        if (ok) {
            const int fd = open_retrying(to, O_WRONLY, 0);
            struct stat st {};
            ok = fd >= 0 && fs().stat_fd(fd, &st) == 0 && st.st_size >= header->length &&
                 (st.st_size == header->length || fs().truncate_fd(fd, header->length) == 0);
            if (fd >= 0) {
                ok = fs().close_fd(fd) == 0 && ok;
            }
        }
        d->close(d, header);
    }
    mspack_destroy_szdd_decompressor(d);
    return ok;
}

}  // namespace

bool expand_copy(const std::string &from, const std::string &to) {
    return is_szdd(from) ? expand_szdd(from, to) : copy_plain(from, to);
}

}  // namespace razivu::standins
