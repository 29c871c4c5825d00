// The error-text table and the library's version string.
#include <array>

#include "razivu/diagnostics.h"

namespace {

struct ErrorText {
    int32_t kind;
    int32_t code;
    const char *text;
};

constexpr std::array<ErrorText, 33> error_texts{{
    {RAZIVU_KIND_LIBRARY, 10, "Call was successful."},
    {RAZIVU_KIND_LIBRARY, 11, "Operation failed."},
    {RAZIVU_KIND_LIBRARY, 12, "Error stack is empty."},
    {RAZIVU_KIND_LIBRARY, 13, "Nothing received."},
    {RAZIVU_KIND_LIBRARY, 14, "Receive over socket failed."},
    {RAZIVU_KIND_LIBRARY, 15, "Nothing sended."},
    {RAZIVU_KIND_LIBRARY, 16, "Send over socket failed."},
    {RAZIVU_KIND_LIBRARY, 17, "Server machine not found in /etc/hosts."},
    {RAZIVU_KIND_LIBRARY, 18, "Service not found in /etc/services."},
    {RAZIVU_KIND_LIBRARY, 19, "Opening a socket failed."},
    {RAZIVU_KIND_LIBRARY, 20, "Some parameter(s) not supported."},
    {RAZIVU_KIND_LIBRARY, 21, "Length of data is too small."},
    {RAZIVU_KIND_LIBRARY, 22, "Length of data is too long."},
    {RAZIVU_KIND_LIBRARY, 26, "Time difference is negative."},
    {RAZIVU_KIND_LIBRARY, 28, "Service not found in the service database."},
    {RAZIVU_KIND_LIBRARY, 32, "Insufficient Memory."},
    {RAZIVU_KIND_LIBRARY, 33, "Tried to initialize twice."},
    {RAZIVU_KIND_LIBRARY, 35, "Unable to create socket."},
    {RAZIVU_KIND_LIBRARY, 38, "Call of ioctl failed."},
    {RAZIVU_KIND_LIBRARY, 39, "Could not open device."},
    {RAZIVU_KIND_LIBRARY, 49, "WSA Startup/Cleanup failed. No winsock.dll?"},
    {RAZIVU_KIND_LIBRARY, 52, "Listen socket not established."},
    {RAZIVU_KIND_LIBRARY, 53, "Socket i/o failed."},
    {RAZIVU_KIND_LIBRARY, 54, "Error while transfering data"},
    {RAZIVU_KIND_LIBRARY, 55, "Invalid socket"},
    {RAZIVU_KIND_LIBRARY, 56, "Communication timed out"},
    {RAZIVU_KIND_LIBRARY, 57, "Cannot load winsock.dll"},
    {RAZIVU_KIND_LIBRARY, 58, "Disconnecting from server error"},
    {RAZIVU_KIND_LIBRARY, 59, "Connecting to server failed"},
    {RAZIVU_KIND_LIBRARY, 60, "Error receiving data from remote server."},
    {RAZIVU_KIND_LIBRARY, 61, "No matching COMrpc function found at server."},
    {RAZIVU_KIND_LIBRARY, 62, "Error on packing data."},
    {RAZIVU_KIND_LIBRARY, 63, "Error on unpacking data."},
}};

// Takes part in no comparison: it is what a code without a row gives.
constexpr const char *fallback_text = "No error text available.";

// What-string marker in front, so that `what` finds the version in a binary.
constexpr const char what_version[] = "@(#)KQ-DX Version G.03.01";
constexpr int what_marker_len = 4;

}  // namespace

extern "C" RAZIVU_API const char *COMLookupErrorText(int32_t code, int32_t kind) {
    for (const auto &row : error_texts) {
        if (row.code == code && row.kind == kind) {
            return row.text;
        }
    }
    return fallback_text;
}

extern "C" RAZIVU_API const char *GetVersionString(void) {
    return what_version + what_marker_len;
}
