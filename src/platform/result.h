#pragma once

#include <utility>

namespace velmarch {

/// Success, or a failure with the system's error number for it (0 when the system gave none).
/// Small and trivially copyable: it travels in a register.
class [[nodiscard]] Status {
 public:
  constexpr Status() = default;
  /// A failure; error is the system's number for it, or 0 when there is no reason to tell.
  static constexpr Status failure(int error = 0) { return Status(error > 0 ? error : -1); }
  /// The failure of an operation an implementation does not have: no reason of the system's.
  static constexpr Status absent() { return Status(-2); }
  /// What a C-style call answered: 0 for success, otherwise its error number.
  static constexpr Status from_error(int error) { return error == 0 ? Status() : failure(error); }

  constexpr bool ok() const { return code_ == 0; }
  constexpr bool is_absent() const { return code_ == -2; }
  /// The reason of a failure; 0 for success and for a failure without one.
  constexpr int error() const { return code_ > 0 ? code_ : 0; }

 private:
  constexpr explicit Status(int code) : code_(code) {}

  int code_ = 0;  // 0 success, -1 a failure without reason, -2 absent, else the error number
};

/// A value, or the failure that kept it from being made; a failure's value is a default one,
/// so that callers who need no reason may read it as "nothing".
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}
  /// A failure; an ok status gives a default value.
  Result(Status status) : status_(status) {}

  bool ok() const { return status_.ok(); }
  int error() const { return status_.error(); }
  Status status() const { return status_; }
  T& value() & { return value_; }
  const T& value() const& { return value_; }
  /// The value, or fallback for a failure.
  T value_or(T fallback) const { return ok() ? value_ : fallback; }
  /// Takes the value out of a result that is going anyway.
  T&& value() && { return std::move(value_); }

 private:
  T value_{};
  Status status_;
};

}  // namespace velmarch
