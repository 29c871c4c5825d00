// The LZ expansion copy on Linux: libmspack's SZDD decompressor for
// compressed files, a plain copy for the rest, into a staged file that
// nobody else can have made.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include <mspack.h>

#include "platform/file_calls.h"
#include "standins/files.h"
#include "standins/fonts.h"

namespace razivu::standins {
namespace {

constexpr unsigned char szdd_magic[] = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33};
// The compressed files of the old installers are small: one is read whole.
constexpr std::size_t max_szdd_bytes = 64UL * 1024 * 1024;
// A staged copy is created as fopen would create it: everyone's, less the umask.
constexpr mode_t copy_mode = 0666;
constexpr std::size_t copy_chunk = 64 * 1024;

platform::FileCalls &fs() {
    return platform::file_calls();
}

// The files libmspack works on, handed to it in place of file names: the
// compressed bytes in memory, and the staged file, which takes the expansion
// up to the length the header announces.
struct Handle {
    std::string_view bytes;  // the compressed file (reading)
    off_t at = 0;            // its read position
    int fd = -1;             // the staged file (writing)
    off_t wanted = 0;        // bytes of expansion still to be written
    bool failed = false;     // a write to the staged file failed
};

Handle &handle(mspack_file *file) {
    return *reinterpret_cast<Handle *>(file);
}

mspack_file *open_handle(mspack_system *, const char *name, int) {
    return reinterpret_cast<mspack_file *>(const_cast<char *>(name));
}

void close_handle(mspack_file *) {}

int read_handle(mspack_file *file, void *buf, int n) {
    Handle &h = handle(file);
    const auto len = std::min<off_t>(n, static_cast<off_t>(h.bytes.size()) - h.at);
    std::memcpy(buf, h.bytes.data() + h.at, static_cast<std::size_t>(len));
    h.at += len;
    return static_cast<int>(len);
}

// The decompressor runs on until its input ends, so an expansion longer than
// the header's length is cut to it; taking the rest keeps it from failing.
int write_handle(mspack_file *file, void *buf, int n) {
    Handle &h = handle(file);
    const off_t len = std::min<off_t>(n, h.wanted);
    h.failed = h.failed || !write_all(h.fd, std::string_view(static_cast<char *>(buf),
                                                             static_cast<std::size_t>(len)));
    h.wanted -= len;
    return h.failed ? -1 : n;
}

int seek_handle(mspack_file *file, off_t offset, int mode) {
    Handle &h = handle(file);
    const off_t base = mode == MSPACK_SYS_SEEK_START ? 0
                       : mode == MSPACK_SYS_SEEK_CUR ? h.at
                                                     : static_cast<off_t>(h.bytes.size());
    if (base + offset < 0 || base + offset > static_cast<off_t>(h.bytes.size())) {
        return -1;
    }
    h.at = base + offset;
    return 0;
}

off_t tell_handle(mspack_file *file) {
    return handle(file).at;
}

void no_message(mspack_file *, const char *, ...) {}

void *allocate(mspack_system *, std::size_t n) {
    return std::malloc(n);
}

void copy_bytes(void *from, void *to, std::size_t n) {
    std::memmove(to, from, n);
}

// The calls libmspack makes on the handles; it never changes them.
mspack_system handles = {open_handle, close_handle, read_handle, write_handle,
                         seek_handle, tell_handle,  no_message,  allocate,
                         std::free,   copy_bytes,   nullptr};

// A shorter expansion than the header announces means the data ended early.
bool expand_szdd(std::string_view compressed, int out) {
    int mismatch = 0;
    MSPACK_SYS_SELFTEST(mismatch);  // libmspack built with another off_t
    msszdd_decompressor *d = mismatch == 0 ? mspack_create_szdd_decompressor(&handles) : nullptr;
    if (d == nullptr) {
        return false;
    }
    Handle in{compressed};
    Handle staged{{}, 0, out};
    bool ok = false;
    if (msszddd_header *header = d->open(d, reinterpret_cast<const char *>(&in))) {
        staged.wanted = header->length;
        ok = d->extract(d, header, reinterpret_cast<const char *>(&staged)) == MSPACK_ERR_OK &&
             !staged.failed && staged.wanted == 0;
        d->close(d, header);
    }
    mspack_destroy_szdd_decompressor(d);
    return ok;
}

// Up to n bytes of fd into buf, fewer only at its end: the count, or -1.
ssize_t read_full(int fd, char *buf, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r =
            platform::retrying([&] { return fs().read_fd(fd, buf + got, n - got); });
        if (r <= 0) {
            return r < 0 ? -1 : static_cast<ssize_t>(got);
        }
        got += static_cast<std::size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

// The first bytes tell a compressed file; an uncompressed one is streamed.
bool expand_copy(int in, int out) {
    std::string chunk(copy_chunk, '\0');
    ssize_t n = read_full(in, chunk.data(), chunk.size());
    if (n >= static_cast<ssize_t>(sizeof szdd_magic) &&
        std::memcmp(chunk.data(), szdd_magic, sizeof szdd_magic) == 0) {
        chunk.resize(static_cast<std::size_t>(n));
        return read_rest(in, max_szdd_bytes, chunk) && expand_szdd(chunk, out);
    }
    for (; n > 0; n = read_full(in, chunk.data(), chunk.size())) {
        if (!platform::write_all(out, chunk.data(), static_cast<std::size_t>(n))) {
            return false;
        }
    }
    return n == 0;
}

}  // namespace

bool stage_copy(const std::string &from, const std::string &to, std::string &staged_out) {
    const int in = open_regular(from, true);
    if (in < 0) {
        return false;
    }
    const int out = create_beside(to, copy_mode, staged_out);
    bool ok = out >= 0 && expand_copy(in, out);
    fs().close_fd(in);
    if (out >= 0) {
        ok = finish_file(out) && ok;
        if (!ok) {
            fs().unlink_host(staged_out.c_str());
        }
    }
    return ok;
}

}  // namespace razivu::standins
