#pragma once

// Compile-time checking of printf-style formats with the C99 conversions (%zd, %lld) that our
// formatters (stb_sprintf, and mingw's C99 printf on Windows) accept. mingw's plain "printf"
// checks against the older Microsoft runtime instead.
#if defined(__MINGW32__)
#define VELMARCH_PRINTF_FORMAT(format_index, first_argument) \
  __attribute__((format(gnu_printf, format_index, first_argument)))
#else
#define VELMARCH_PRINTF_FORMAT(format_index, first_argument) \
  __attribute__((format(printf, format_index, first_argument)))
#endif
