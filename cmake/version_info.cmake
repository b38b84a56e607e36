# Writes the version data of the build into OUTPUT, touching it only when it changed, so that
# --version names the commit that was built. Run at every build.
execute_process(
  COMMAND git -C "${SOURCE_DIR}" rev-parse HEAD
  OUTPUT_VARIABLE commit
  OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE git_result
  ERROR_QUIET)
if(NOT git_result EQUAL 0 OR NOT commit MATCHES "^[0-9a-f]+$")
  # Outside a git checkout: a stated placeholder of forty zeros.
  set(commit "0000000000000000000000000000000000000000")
endif()
string(SUBSTRING "${commit}" 0 8 short_commit)
string(TIMESTAMP day "%y.%m.%d")
file(WRITE "${OUTPUT}.tmp"
  "#pragma once\n"
  "#define VELMARCH_COMMIT \"${commit}\"\n"
  "#define VELMARCH_VERSION \"${day}.${short_commit}\"\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
