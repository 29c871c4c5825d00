// The error-text table and the library's version string.
#include <array>

#include "diagnostics/boundary.h"
#include "razivu/diagnostics.h"

namespace {

struct ErrorText {
    int32_t code;
    const char *text;
};

// One row per code, all of the library kind. The texts are those of the old
// library, misspellings ("sended", "transfering", "Servive" in the transport's
// warning) included: old callers compare them, so they are kept on purpose.
constexpr std::array error_texts{
    ErrorText{RAZIVU_OK, "Call was successful."},
    ErrorText{RAZIVU_E_FAILED, "Operation failed."},
    ErrorText{RAZIVU_E_STACK_EMPTY, "Error stack is empty."},
    ErrorText{RAZIVU_E_NOTHING_RECEIVED, "Nothing received."},
    ErrorText{RAZIVU_E_RECEIVE, "Receive over socket failed."},
    ErrorText{RAZIVU_E_NOTHING_SENT, "Nothing sended."},
    ErrorText{RAZIVU_E_SEND, "Send over socket failed."},
    ErrorText{RAZIVU_E_HOST_NOT_FOUND, "Server machine not found in /etc/hosts."},
    ErrorText{RAZIVU_E_SERVICE_NOT_FOUND, "Service not found in /etc/services."},
    ErrorText{RAZIVU_E_OPEN_SOCKET, "Opening a socket failed."},
    ErrorText{RAZIVU_E_NOT_SUPPORTED, "Some parameter(s) not supported."},
    ErrorText{RAZIVU_E_TOO_SMALL, "Length of data is too small."},
    ErrorText{RAZIVU_E_TOO_LONG, "Length of data is too long."},
    ErrorText{RAZIVU_E_NEGATIVE_TIME, "Time difference is negative."},
    ErrorText{RAZIVU_E_NO_SERVICE_ENTRY, "Service not found in the service database."},
    ErrorText{RAZIVU_E_NO_MEMORY, "Insufficient Memory."},
    ErrorText{RAZIVU_E_INIT_TWICE, "Tried to initialize twice."},
    ErrorText{RAZIVU_E_CREATE_SOCKET, "Unable to create socket."},
    ErrorText{RAZIVU_E_IOCTL, "Call of ioctl failed."},
    ErrorText{RAZIVU_E_OPEN_DEVICE, "Could not open device."},
    ErrorText{RAZIVU_E_WSA_STARTUP, "WSA Startup/Cleanup failed. No winsock.dll?"},
    ErrorText{RAZIVU_E_NO_LISTEN_SOCKET, "Listen socket not established."},
    ErrorText{RAZIVU_E_SOCKET_IO, "Socket i/o failed."},
    ErrorText{RAZIVU_E_TRANSFER, "Error while transfering data"},
    ErrorText{RAZIVU_E_INVALID_SOCKET, "Invalid socket"},
    ErrorText{RAZIVU_E_TIMEOUT, "Communication timed out"},
    ErrorText{RAZIVU_E_LOAD_WINSOCK, "Cannot load winsock.dll"},
    ErrorText{RAZIVU_E_DISCONNECT, "Disconnecting from server error"},
    ErrorText{RAZIVU_E_CONNECT, "Connecting to server failed"},
    ErrorText{RAZIVU_E_REMOTE_RECEIVE, "Error receiving data from remote server."},
    ErrorText{RAZIVU_E_NO_FUNCTION, "No matching COMrpc function found at server."},
    ErrorText{RAZIVU_E_PACK, "Error on packing data."},
    ErrorText{RAZIVU_E_UNPACK, "Error on unpacking data."},
};

constexpr bool codes_are_unique() {
    for (std::size_t i = 0; i < error_texts.size(); ++i) {
        for (std::size_t j = i + 1; j < error_texts.size(); ++j) {
            if (error_texts[i].code == error_texts[j].code) {
                return false;
            }
        }
    }
    return true;
}
static_assert(codes_are_unique(), "two rows of the error-text table share a code");

constexpr bool has_row(int32_t code) {
    for (const ErrorText &row : error_texts) {
        if (row.code == code) {
            return true;
        }
    }
    return false;
}
static_assert(!has_row(RAZIVU_E_UNKNOWN_HOST), "the unknown-host code reads the fallback text");

// Takes part in no comparison: it is what a code without a row gives.
constexpr const char *fallback_text = "No error text available.";

// What-string marker in front, so that `what` finds the version in a binary.
constexpr const char what_version[] = "@(#)KQ-DX Version G.03.01";
constexpr int what_marker_len = 4;

}  // namespace

// Every row is of the library kind: another kind finds none.
extern "C" RAZIVU_API const char *COMLookupErrorText(int32_t code, int32_t kind) try {
    if (kind == RAZIVU_KIND_LIBRARY) {
        for (const ErrorText &row : error_texts) {
            if (row.code == code) {
                return row.text;
            }
        }
    }
    return fallback_text;
} RAZIVU_CATCH(fallback_text, nullptr)

extern "C" RAZIVU_API const char *GetVersionString(void) try {
    return what_version + what_marker_len;
} RAZIVU_CATCH(what_version + what_marker_len, nullptr)
