/* argtable2's arg_int.c for 64-bit Windows, the upstream file unchanged:
   1. mingw's <errno.h> defines EOVERFLOW, which breaks the file's own enum of error codes:
      include it first and drop the macro (the enum keeps its value).
   2. long is 32 bits there, so the file's "val > INT_MAX" test never fires and strtol clamps
      silently: widen its longs and use strtoll, as on 64-bit Linux. */
#include <ctype.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "argtable2.h"
#undef EOVERFLOW
#define long long long
#define strtol strtoll
#include "arg_int.c"
