# Flags every target of the project builds with: warnings, and the checking instruments that a
# build asks for. velmarch_flags carries both.
add_library(velmarch_warnings INTERFACE)
target_compile_options(velmarch_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual)
if(WARNINGS_AS_ERRORS)
  target_compile_options(velmarch_warnings INTERFACE -Werror)
endif()

add_library(velmarch_instrumentation INTERFACE)
if(ENABLE_SANITIZERS)
  target_compile_options(velmarch_instrumentation INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
    # GCC 12 reports false maybe-uninitialized warnings inside <regex> under the sanitizers.
    -Wno-maybe-uninitialized)
  target_link_options(velmarch_instrumentation INTERFACE -fsanitize=address,undefined)
endif()
if(ENABLE_TSAN)
  target_compile_options(velmarch_instrumentation INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(velmarch_instrumentation INTERFACE -fsanitize=thread)
endif()
if(BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "BUILD_FUZZERS needs clang: configure with CC=clang CXX=clang++")
  endif()
  # Coverage feedback for libFuzzer in every object; the fuzzer executables add its main.
  target_compile_options(velmarch_instrumentation INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
  target_link_options(velmarch_instrumentation INTERFACE -fsanitize=address,undefined)
endif()

add_library(velmarch_flags INTERFACE)
target_link_libraries(velmarch_flags INTERFACE velmarch_warnings velmarch_instrumentation)
