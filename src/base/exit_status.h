#pragma once

namespace velmarch {

/// A process exit status. A run's status is the results of its inputs combined by bitwise OR,
/// so a script can test each kind of failure on its own.
class ExitStatus {
 public:
  constexpr ExitStatus() = default;
  constexpr explicit ExitStatus(int value) : value_(value) {}

  constexpr int value() const { return value_; }
  constexpr bool ok() const { return value_ == 0; }

  constexpr ExitStatus& operator|=(ExitStatus other) {
    value_ |= other.value_;
    return *this;
  }
  friend constexpr ExitStatus operator|(ExitStatus a, ExitStatus b) { return a |= b; }
  friend constexpr bool operator==(ExitStatus a, ExitStatus b) { return a.value_ == b.value_; }
  friend constexpr bool operator!=(ExitStatus a, ExitStatus b) { return a.value_ != b.value_; }

 private:
  int value_ = 0;
};

inline constexpr ExitStatus EXIT_OK{0};
inline constexpr ExitStatus EXIT_INPUT_MISSING{1};
inline constexpr ExitStatus EXIT_FILE_FAILED{8};
inline constexpr ExitStatus EXIT_INTERNAL{129};
inline constexpr ExitStatus EXIT_MISSING_VALUE{130};
inline constexpr ExitStatus EXIT_BAD_VALUE{131};
inline constexpr ExitStatus EXIT_NO_COMMON_ROOT{132};
inline constexpr ExitStatus EXIT_COMMAND_LINE{134};

}  // namespace velmarch
