// The C boundary: no C++ exception leaves an exported function.
//
// Every export is written as a function-try-block closed by one of the
// macros below:
//
//   RAZIVU_API int32_t COMReadSock(...) try {
//       ...
//   } RAZIVU_CATCH(-1, "COMReadSock")
//
// An exception (in practice bad_alloc from a container or a path text) ends
// the operation with its failure value. Operations that report through the
// error stack name themselves, and the catch pushes (name, 32) for a lack of
// memory or (name, 11) for anything else; operations that answer with a
// status code only pass nullptr and push nothing.
#pragma once

namespace razivu::diagnostics {

// Pushes what the exception being handled means under function, unless
// function is null. Call only from a catch handler. Never throws.
void report_exception(const char *function) noexcept;

}  // namespace razivu::diagnostics

#define RAZIVU_CATCH(failure, function)                      \
    catch (...) {                                            \
        ::razivu::diagnostics::report_exception(function);   \
        return failure;                                      \
    }

#define RAZIVU_CATCH_VOID(function)                          \
    catch (...) {                                            \
        ::razivu::diagnostics::report_exception(function);   \
    }
