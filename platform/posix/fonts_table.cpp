// The system font table on Linux: fontconfig. An installed font's folder
// becomes a font folder of the user's configuration (a file of ours in
// $XDG_CONFIG_HOME/fontconfig/conf.d), the file is added to the running
// process's fonts, and the folder's cache is rebuilt so that the user's next
// programs see the font. There is no broadcast: a running fontconfig client
// notices the new cache at its next rescan of the configuration.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include <fontconfig/fontconfig.h>

#include "platform/platform.h"
#include "platform/posix/paths.h"

namespace razivu::platform {
namespace {

constexpr const char *conf_file_name = "90-razivu-fonts.conf";
constexpr const char *conf_head =
    "<?xml version=\"1.0\"?>\n"
    "<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
    "<!-- Font folders of razivu's Windows directory; written by razivu. -->\n"
    "<fontconfig>\n";
constexpr const char *conf_tail = "</fontconfig>\n";
constexpr const char *dir_open = "  <dir>";
constexpr const char *dir_close = "</dir>\n";
// A conf file of ours larger than this is not ours; it is left alone.
constexpr long max_conf_bytes = 1024L * 1024;

// $XDG_CONFIG_HOME/fontconfig/conf.d, or "" for a user without a home.
std::string conf_dir() {
    const std::string base = posix::xdg_dir("XDG_CONFIG_HOME", "/.config");
    return base.empty() ? base : base + "/fontconfig/conf.d";
}

bool read_small_file(const std::string &path, std::string &out) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return true;  // not there yet: nothing listed
    }
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0 &&
           static_cast<long>(out.size()) <= max_conf_bytes) {
        out.append(chunk, n);
    }
    const bool ok = std::ferror(f) == 0 && static_cast<long>(out.size()) <= max_conf_bytes;
    std::fclose(f);
    return ok;
}

// Lists dir in our conf file, keeping the folders listed before; the file is
// rewritten whole through a rename.
bool list_font_dir(const std::string &dir) {
    const std::string folder = conf_dir();
    if (folder.empty()) {
        return false;
    }
    for (std::size_t i = 1; i <= folder.size(); ++i) {
        if (i == folder.size() || folder[i] == '/') {
            ::mkdir(folder.substr(0, i).c_str(), 0777);
        }
    }
    const std::string path = folder + "/" + conf_file_name;
    std::string text;
    if (!read_small_file(path, text)) {
        return false;
    }
    const std::string line = dir_open + posix::xml_escaped(dir) + dir_close;
    if (text.find(line) != std::string::npos) {
        return true;
    }
    std::string lines;
    for (std::size_t at = text.find(dir_open); at != std::string::npos;
         at = text.find(dir_open, at + 1)) {
        lines += text.substr(at, text.find('\n', at) - at) + "\n";
    }
    const std::string temp = path + ".razivu-tmp";
    std::FILE *f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const std::string out = conf_head + lines + line + conf_tail;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

// Scans the folder afresh and writes its cache where the user's
// configuration keeps caches; the configuration is loaded without its fonts.
bool rebuild_cache(const std::string &dir) {
    FcConfig *config = FcInitLoadConfig();
    if (config == nullptr) {
        return false;
    }
    FcCache *cache = FcDirCacheRead(reinterpret_cast<const FcChar8 *>(dir.c_str()), FcTrue, config);
    if (cache != nullptr) {
        FcDirCacheUnload(cache);
    }
    FcConfigDestroy(config);
    return cache != nullptr;
}

}  // namespace

bool font_table_add(const char *path) {
    if (path == nullptr) {
        return false;
    }
    const std::string file = posix::host_path(path);
    const std::size_t slash = file.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : file.substr(0, slash);
    bool ok = list_font_dir(dir);
    ok = FcConfigAppFontAddFile(nullptr, reinterpret_cast<const FcChar8 *>(file.c_str())) ==
             FcTrue && ok;
    return rebuild_cache(dir) && ok;
}

void broadcast_font_change() {}

}  // namespace razivu::platform
