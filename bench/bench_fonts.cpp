// Face names of every TrueType and OpenType file under /usr/share/fonts:
// GetTrueTypeFaceName against `fc-scan --format '%{fullname}'` over the same
// files, in one run, both after a warm-up pass so that both read from the page
// cache. Prints files per second for each and the library's lead as a ratio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "razivu/razivu.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *font_root = "/usr/share/fonts";
constexpr double min_seconds = 2.0;  // each side runs whole passes for at least this long

std::vector<std::string> font_files() {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto &e : std::filesystem::recursive_directory_iterator(font_root, ec)) {
        const std::string ext = e.path().extension().string();
        if (e.is_regular_file() && (ext == ".ttf" || ext == ".otf" || ext == ".ttc")) {
            files.push_back(e.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// One pass of the library over every file; the number of names read.
int library_pass(const std::vector<std::string> &files) {
    int named = 0;
    RazivuWChar face[RAZIVU_FACE_NAME_CAP];
    for (const auto &f : files) {
        named += GetTrueTypeFaceName(f.c_str(), face) == RAZIVU_STATUS_OK ? 1 : 0;
    }
    return named;
}

// One fc-scan process over every file; false when it could not be run.
bool fc_scan_pass(const std::string &command) {
    std::FILE *p = ::popen(command.c_str(), "r");
    if (p == nullptr) {
        return false;
    }
    char chunk[4096];
    while (std::fread(chunk, 1, sizeof chunk, p) > 0) {
    }
    return ::pclose(p) == 0;
}

// Passes per second of run, repeated until min_seconds have gone by.
template <typename Pass>
double passes_per_second(Pass pass) {
    pass();
    int passes = 0;
    const auto start = Clock::now();
    std::chrono::duration<double> spent{};
    do {
        pass();
        ++passes;
        spent = Clock::now() - start;
    } while (spent.count() < min_seconds);
    return passes / spent.count();
}

}  // namespace

int main() {
    const std::vector<std::string> files = font_files();
    if (files.empty()) {
        std::fprintf(stderr, "bench_fonts: no fonts under %s\n", font_root);
        return 1;
    }
    std::string command = "fc-scan --format '%{fullname}\\n'";
    for (const auto &f : files) {
        command += " '" + f + "'";
    }
    command += " 2>/dev/null";
    if (!fc_scan_pass(command)) {
        std::fprintf(stderr, "bench_fonts: fc-scan did not run\n");
        return 1;
    }
    int named = 0;
    const double library = passes_per_second([&] { named = library_pass(files); });
    const double scan = passes_per_second([&] { fc_scan_pass(command); });
    const auto n = static_cast<double>(files.size());
    std::printf("%zu font files under %s, %d named by GetTrueTypeFaceName\n", files.size(),
                font_root, named);
    std::printf("%-22s %12.0f files/s\n", "GetTrueTypeFaceName", library * n);
    std::printf("%-22s %12.0f files/s\n", "fc-scan (one process)", scan * n);
    std::printf("%-22s %12.1f\n", "ratio", library / scan);
    return 0;
}
