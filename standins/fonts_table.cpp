// The system font table on Linux: fontconfig. An installed font's folder
// becomes a font folder of the user's configuration (a file of ours in
// $XDG_CONFIG_HOME/fontconfig/conf.d), the file is added to the running
// process's fonts, and the folder's cache is rebuilt so that the user's next
// programs see the font. There is no broadcast: a running fontconfig client
// notices the new cache at its next rescan of the configuration.
#include <algorithm>
#include <string>

#include <fontconfig/fontconfig.h>

#include "standins/files.h"
#include "standins/fonts.h"
#include "standins/paths.h"
#include "standins/text.h"

namespace razivu::standins {
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
constexpr std::size_t max_conf_bytes = 1024UL * 1024;
// The conf file is the user's, readable by all, as fontconfig's own are.
constexpr mode_t conf_mode = 0644;
constexpr mode_t conf_dir_mode = 0755;
// Folders below a font folder that are checked before fontconfig scans them;
// a deeper one leaves the folder unscanned.
constexpr int max_folder_depth = 8;

// $XDG_CONFIG_HOME/fontconfig/conf.d, or "" for a user without a home.
std::string conf_dir() {
    const std::string base = config_home();
    return base.empty() ? base : base + "/fontconfig/conf.d";
}

// A folder name the conf file can hold on one line of well-formed XML.
bool listable(const std::string &dir) {
    return is_utf8(dir) && std::none_of(dir.begin(), dir.end(), [](char c) {
               return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
           });
}

// Lists dir in our conf file, keeping the folders listed before; the file is
// rewritten whole through a rename, under a lock that concurrent installs
// take in turn.
bool list_font_dir(const std::string &dir) {
    const std::string folder = conf_dir();
    if (folder.empty() || !listable(dir) || !make_dirs(folder, conf_dir_mode)) {
        return false;
    }
    const std::string path = folder + "/" + conf_file_name;
    const FileLock lock(path);
    std::string text;
    if (!lock.held() || read_file(path, max_conf_bytes, text) == ReadResult::failed) {
        return false;
    }
    const std::string line = dir_open + xml_escaped(dir) + dir_close;
    if (text.find(line) != std::string::npos) {
        return true;
    }
    std::string lines;
    for (std::size_t at = text.find(dir_open); at != std::string::npos;
         at = text.find(dir_open, at + 1)) {
        lines += text.substr(at, text.find('\n', at) - at) + "\n";
    }
    return replace_file(path, conf_head + lines + line + conf_tail, conf_mode, conf_dir_mode);
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

// fontconfig opens every file of a font folder and of the folders below it,
// so one holding a FIFO, a device or a link to one would make it wait for
// ever: such a folder is not scanned.
bool font_table_add(const std::string &file) {
    const std::size_t slash = file.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : file.substr(0, slash);
    if (!holds_only_plain_files(dir, max_folder_depth)) {
        return false;
    }
    bool ok = list_font_dir(dir);
    ok = FcConfigAppFontAddFile(nullptr, reinterpret_cast<const FcChar8 *>(file.c_str())) ==
             FcTrue && ok;
    return rebuild_cache(dir) && ok;
}

}  // namespace razivu::standins
