// The board's memory on Windows: a file mapping backed by the paging file,
// which each worker is handed a handle of (handoff.h).
#include "server/board.h"
#include "server/win32/handoff.h"

namespace razivu_tool {
namespace {

// Process-wide: the mapping of the listening process.
struct Mapping {
    HANDLE handle = nullptr;
};
Mapping mapping;

}  // namespace

void *board::shared_memory() {
    mapping.handle = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Board), nullptr);
    return mapping.handle != nullptr ? MapViewOfFile(mapping.handle, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Board))
                                     : nullptr;
}

HANDLE handoff::board_mapping() {
    return mapping.handle;
}

}  // namespace razivu_tool
