// Times in the tool's own lines, as ISO 8601 in UTC.
#pragma once

#include <chrono>
#include <string>

namespace razivu_tool {

// "2024-06-01T12:00:00.123Z"
std::string iso8601(std::chrono::system_clock::time_point t);

}  // namespace razivu_tool
