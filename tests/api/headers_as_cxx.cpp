// The public headers compile as C++ with every warning on.
#include <razivu/razivu.h>

int razivu_headers_compile_as_cxx() {
    ErrorRecord record{};
    return record.code;
}
