// The one translation unit that holds stb_sprintf's implementation. Aligned copies only: the
// default's unaligned stores are undefined behaviour in C++.
#define STB_SPRINTF_IMPLEMENTATION
#define STB_SPRINTF_NOUNALIGNED
#include <stb/stb_sprintf.h>
