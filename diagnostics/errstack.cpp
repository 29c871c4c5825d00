// The error stack: a ring of the 30 most recent error records.
//
// Pushes overwrite the oldest record once the ring is full; pops take the
// newest. Every push is also appended to the error log "errstack.txt".
#include <cstdio>
#include <cstring>

#include "diagnostics/boundary.h"
#include "diagnostics/errstack_internal.h"
#include "diagnostics/trace_internal.h"
#include "platform/platform.h"
#include "platform/threads.h"
#include "razivu/diagnostics.h"
#include "razivu/logfile.h"

namespace {

constexpr int32_t depth = RAZIVU_ERROR_STACK_DEPTH;
constexpr int32_t text_cap = RAZIVU_ERROR_TEXT_CAP;

// The ring of the calling thread: the records of its own calls, as errno is
// its own. The texts are part of the ring, so setting it up cannot fail, and
// a text handed out by a pop stays valid until a later push of the thread
// reuses its slot, or the thread ends.
struct Ring {
    ErrorRecord records[depth];  // the slots; text points into texts
    char texts[depth][text_cap]; // each slot's text, at most 99 characters
    int32_t write = 0;           // slot of the next push
    int32_t oldest = 0;          // slot of the oldest record that counts
    int32_t overflow = 0;        // a push found the ring full; cleared when found empty
    int32_t initialised = 0;     // the slots have been set up
    int32_t pending_code = 0;    // code of the latest COMPushError
    int32_t unlogged = 0;        // UnloggedPushes alive: pushes stay out of the log
};
razivu::platform::PerThread<Ring> rings;

void fill_text(char *text, const char *label, const char *function, const char *detail) {
    std::snprintf(text, text_cap, "%s function %s:  %s", label,
                  function != nullptr ? function : "(null)", detail);
}

}  // namespace

extern "C" {

RAZIVU_API void COMInitErrorStack(void) try {
    Ring &ring = rings.get();
    if (ring.initialised != 0) {
        return;
    }
    ring.write = 0;
    ring.oldest = 0;
    ring.overflow = 0;
    for (int32_t i = 0; i < depth; ++i) {
        ring.texts[i][0] = '\0';
        ring.records[i] = ErrorRecord{0, RAZIVU_KIND_UNKNOWN, 0, ring.texts[i]};
    }
    ring.initialised = 1;
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API void COMPushErrorOfKind(const char *function, int32_t kind) try {
    const int saved_errno = razivu::platform::last_errno();
    Ring &ring = rings.get();
    COMInitErrorStack();
    if (ring.write == ring.oldest && ring.records[ring.oldest].in_use != 0) {
        ring.overflow = 1;
    }
    if (ring.overflow != 0) {
        ring.oldest = (ring.oldest + 1) % depth;
    }
    ErrorRecord &rec = ring.records[ring.write];
    if (kind == RAZIVU_KIND_SYSTEM) {
        rec.kind = RAZIVU_KIND_SYSTEM;
        rec.code = saved_errno;
        fill_text(rec.text, "system", function, razivu::platform::errno_text(saved_errno));
    } else {
        const bool library = kind == RAZIVU_KIND_LIBRARY;
        rec.kind = library ? RAZIVU_KIND_LIBRARY : RAZIVU_KIND_UNKNOWN;
        rec.code = ring.pending_code;
        fill_text(rec.text, library ? "RazIvu" : "unknown", function,
                  COMLookupErrorText(ring.pending_code, RAZIVU_KIND_LIBRARY));
    }
    if (ring.unlogged == 0) {
        WriteLog("errstack.txt", GetVersionString(), RAZIVU_LOG_ERROR, "RazIvu > %s", rec.text);
    }
    rec.in_use = 1;
    ring.write = (ring.write + 1) % depth;
    // A push reports an error; it must not change the one the caller sees.
    razivu::platform::set_errno(saved_errno);
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API void COMPushError(const char *function, int32_t code) try {
    Ring &ring = rings.get();
    ring.pending_code = code;
    COMPushErrorOfKind(function, RAZIVU_KIND_LIBRARY);
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API void COMPushSysError(const char *function) try {
    COMPushErrorOfKind(function, RAZIVU_KIND_SYSTEM);
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API int32_t COMErrorStackIsEmpty(void) try {
    Ring &ring = rings.get();
    COMInitErrorStack();
    if (ring.write == ring.oldest && ring.records[ring.oldest].in_use == 0) {
        ring.overflow = 0;
        return 1;
    }
    return 0;
} RAZIVU_CATCH(1, nullptr)

RAZIVU_API char *COMGetLastErrorText(void) try {
    Ring &ring = rings.get();
    COMInitErrorStack();
    if (COMErrorStackIsEmpty() != 0) {
        return nullptr;
    }
    ring.write = (ring.write + depth - 1) % depth;
    ring.records[ring.write].in_use = 0;
    return ring.records[ring.write].text;
} RAZIVU_CATCH(nullptr, nullptr)

// A null record pops nothing: the record would be lost unseen.
RAZIVU_API int32_t COMPopError(ErrorRecord *record) try {
    Ring &ring = rings.get();
    if (record == nullptr || COMErrorStackIsEmpty() != 0) {
        return 0;
    }
    char *text = COMGetLastErrorText();
    const ErrorRecord &rec = ring.records[ring.write];
    record->kind = rec.kind;
    record->code = rec.code;
    record->text = text;
    return 1;
} RAZIVU_CATCH(0, nullptr)

// Without a stream the stack goes to the trace file, while no other thread
// writes there.
RAZIVU_API void COMPrintErrorStack(FILE *stream) try {
    if (stream == nullptr) {
        razivu::diagnostics::with_trace_file(
            [](std::FILE *trace, const char *) { razivu::diagnostics::print_error_stack(trace); },
            nullptr);
        return;
    }
    razivu::diagnostics::print_error_stack(stream);
} RAZIVU_CATCH_VOID(nullptr)

}  // extern "C"

namespace razivu::diagnostics {

UnloggedPushes::UnloggedPushes() {
    ++rings.get().unlogged;
}

UnloggedPushes::~UnloggedPushes() {
    --rings.get().unlogged;
}

void print_error_stack(std::FILE *stream) {
    std::fputs("Print error stack:\n", stream);
    std::fflush(stream);
    ErrorRecord rec{};
    while (COMPopError(&rec) != 0) {
        std::fprintf(stream, "ERR> %d, %d, %s\n", static_cast<int>(rec.kind),
                     static_cast<int>(rec.code), rec.text);
    }
    std::fputs("Error stack printed.\n\n", stream);
    std::fflush(stream);
}

}  // namespace razivu::diagnostics
