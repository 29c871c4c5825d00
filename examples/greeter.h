/* The functions the example servers serve:
 *   Add (i a, i b)  -> r 10, i a + b
 *   Greet (s name)  -> r 10, s "Hello, <name>"
 * Arguments of the wrong type or too few are answered with r 20. */
#ifndef GREETER_H
#define GREETER_H

#include <stdint.h>

/* The handler's contract (razivu/server.h): 0 when answered,
 * RAZIVU_E_NO_FUNCTION for another function, -1 when the call failed. */
int32_t greeter_call(const char *function);

#endif
