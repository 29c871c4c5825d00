// The board's memory on Windows: a file mapping backed by the paging file,
// which each worker is handed a handle of (serve_handoff.h).
#include "platform/win32/serve_handoff.h"

namespace razivu::platform::handoff {
namespace {

// Process-wide: the mapping of the listening process.
struct Mapping {
    HANDLE handle = nullptr;
};
Mapping mapping;

}  // namespace

void *shared_memory(std::size_t size) {
    mapping.handle = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(size), nullptr);
    void *view = mapping.handle != nullptr ? MapViewOfFile(mapping.handle, FILE_MAP_ALL_ACCESS, 0, 0, size) : nullptr;
    if (view == nullptr) {
        release_shared(nullptr);
    }
    return view;
}

HANDLE board_mapping() {
    return mapping.handle;
}

void release_shared(void *memory) {
    if (memory != nullptr) {
        UnmapViewOfFile(memory);
    }
    if (mapping.handle != nullptr) {
        CloseHandle(mapping.handle);
        mapping.handle = nullptr;
    }
}

}  // namespace razivu::platform::handoff
