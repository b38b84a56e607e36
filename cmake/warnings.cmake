add_library(velmarch_warnings INTERFACE)
target_compile_options(velmarch_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual)
if(WARNINGS_AS_ERRORS)
  target_compile_options(velmarch_warnings INTERFACE -Werror)
endif()
if(ENABLE_SANITIZERS)
  target_compile_options(velmarch_warnings INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
    # GCC 12 reports false maybe-uninitialized warnings inside <regex> under the sanitizers.
    -Wno-maybe-uninitialized)
  target_link_options(velmarch_warnings INTERFACE -fsanitize=address,undefined)
endif()
