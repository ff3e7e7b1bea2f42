// Lets the compiler check printf-style calls against their format strings.
#pragma once

#if defined(__MINGW32__)
// MinGW's own printf attribute means the Microsoft runtime's rules; the program is built
// with the C99 ones (__USE_MINGW_ANSI_STDIO).
#define MARVANE_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define MARVANE_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif
