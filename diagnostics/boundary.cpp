// What an exception caught at the C boundary leaves on the error stack.
#include "diagnostics/boundary.h"

#include <new>

#include "razivu/diagnostics.h"

namespace razivu::diagnostics {

void report_exception(const char *function) noexcept {
    if (function == nullptr) {
        return;
    }
    int32_t code = RAZIVU_E_FAILED;
    try {
        throw;
    } catch (const std::bad_alloc &) {
        code = RAZIVU_E_NO_MEMORY;
    } catch (...) {
    }
    try {
        COMPushError(function, code);
    } catch (...) {
        // The push itself ran out of memory: the result still tells the caller.
    }
}

}  // namespace razivu::diagnostics
