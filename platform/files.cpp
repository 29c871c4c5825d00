// The file helpers built on the file-call table, the same on every platform.
#include <cerrno>
#include <string>

#include "platform/platform.h"
#include "platform/system_calls.h"

namespace razivu::platform {
std::size_t stdio_write(const void *data, std::size_t len, std::FILE *f) {
    return std::fwrite(data, 1, len, f);
}

int stdio_flush(std::FILE *f) {
    return std::fflush(f);
}

int stdio_close(std::FILE *f) {
    return std::fclose(f);
}

std::FILE *open_file(const char *path, const char *mode) {
    if (path == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return file_calls().open(path, mode);
}

std::FILE *open_own_file(const char *path, const char *mode) {
    if (path == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return file_calls().open_own(path, mode);
}

std::FILE *open_regular_file(const char *path) {
    if (path == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    const int fd = open_regular(host_path(path), true);
    if (fd < 0) {
        return nullptr;
    }
#if defined(_WIN32)
    std::FILE *f = ::_fdopen(fd, "rb");
#else
    std::FILE *f = ::fdopen(fd, "rb");
#endif
    if (f == nullptr) {
        file_calls().close_fd(fd);
    }
    return f;
}

int32_t make_dir(const char *path) {
    return path != nullptr ? file_calls().make_dir(path) : -1;
}

bool write_bytes(std::FILE *f, const char *data, std::size_t len) {
    return len == 0 || file_calls().write(data, len, f) == len;
}

bool write_text(std::FILE *f, const char *text) {
    return write_bytes(f, text, std::char_traits<char>::length(text));
}

// Both are tried: a failed flush must not leave the file open.
bool close_file(std::FILE *f) {
    const bool flushed = file_calls().flush(f) == 0;
    return (file_calls().close(f) == 0) && flushed;
}

// Unbuffered, the C library hands the whole block to one write(2); with a
// buffer it would cut a long entry into buffer-sized writes.
bool append_whole(const char *path, const char *data, std::size_t len) {
    std::FILE *f = open_own_file(path, "a");
    if (f == nullptr) {
        return false;
    }
    std::setvbuf(f, nullptr, _IONBF, 0);
    const bool written = write_bytes(f, data, len);
    return close_file(f) && written;
}

}  // namespace razivu::platform
