#include "cli/times.h"

#include <cstdio>

namespace razivu_tool {

std::string iso8601(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const sys_days day = floor<days>(t);
    const year_month_day ymd{day};
    const auto in_day = duration_cast<milliseconds>(t - day).count();
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ",
                  static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()), static_cast<long long>(in_day / 3600000),
                  static_cast<long long>(in_day / 60000 % 60),
                  static_cast<long long>(in_day / 1000 % 60), static_cast<long long>(in_day % 1000));
    return text;
}

}  // namespace razivu_tool
