#include "support/test_env.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace razivu::test {

std::string host(const std::string &windows_path) {
    std::string out = root() + "/prefix/drive_";
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(windows_path.at(0))));
    for (std::size_t i = 2; i < windows_path.size(); ++i) {
        out += windows_path[i] == '\\' ? '/' : windows_path[i];
    }
    return out;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

bool exists(const std::string &path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

bool is_dir(const std::string &path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

void make_dirs(const std::string &path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
}

void write_profile(const std::string &text) {
    make_dirs(host("C:\\WINDOWS"));
    write_file(host("C:\\WINDOWS\\tarnex.ini"), text);
}

}  // namespace razivu::test
