// KORADO_HOT marks the functions that every statement runs through: the connection check, the command and
// its parameters, binding, execution and clean-up. GCC and Clang gather such functions into one part of the
// text (.text.hot), so that a statement's own code spans a few pages next to the driver's instead of being
// spread over the whole library, where it competes with the driver's code for the instruction TLB and
// cache on every row of a loop. Written after a lambda's parameter list as well as before a definition.
#pragma once

#if defined(__GNUC__)
#define KORADO_HOT __attribute__((hot))
#else
#define KORADO_HOT
#endif
