#pragma once

namespace velmarch {

// Per-input results are combined by bitwise OR.
inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_INPUT_MISSING = 1;
inline constexpr int EXIT_FILE_FAILED = 8;
inline constexpr int EXIT_INTERNAL = 129;
inline constexpr int EXIT_MISSING_VALUE = 130;
inline constexpr int EXIT_BAD_VALUE = 131;
inline constexpr int EXIT_NO_COMMON_ROOT = 132;
inline constexpr int EXIT_COMMAND_LINE = 134;

}  // namespace velmarch
