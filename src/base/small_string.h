#pragma once

#include <cstdint>
#include <cstring>

#include "base/str_view.h"
#include "platform/printf_format.h"

namespace velmarch {

/// An owned, growable byte string. Content may hold NUL bytes (the length is what counts); a NUL
/// always follows it. An all-zero object is a valid empty string, and clearing keeps the storage,
/// so a buffer that is cleared and refilled stops allocating once its longest content was seen.
class SmallString {
 public:
  SmallString() = default;
  explicit SmallString(StrView text);
  SmallString(const SmallString& other);
  SmallString(SmallString&& other) noexcept;
  SmallString& operator=(const SmallString& other);
  SmallString& operator=(SmallString&& other) noexcept;
  ~SmallString();

  const char* data() const { return data_ != nullptr ? data_ : ""; }
  char* data() { return data_; }
  const char* c_str() const { return data(); }
  int64_t size() const { return size_; }
  int64_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  StrView view() const { return StrView(data(), static_cast<size_t>(size_)); }
  char operator[](int64_t index) const { return data_[index]; }

  /// Grows the storage to hold at least n content bytes; null when memory runs out.
  char* reserve(int64_t n);
  /// Appends n bytes (which may lie inside this string); null when memory runs out.
  char* append(const void* source, int64_t n);
  char* append(StrView text) { return append(text.data(), static_cast<int64_t>(text.size())); }
  /// Commits n bytes the caller already wrote into the spare capacity.
  char* extend(int64_t n);
  void set_length(int64_t n);
  void clear() { set_length(0); }
  void free();

  bool operator==(const SmallString& other) const { return view() == other.view(); }

 private:
  char* data_ = nullptr;
  int64_t size_ = 0;
  int64_t capacity_ = 0;
};

/// Moves the bytes from position i on n places right and fills the gap from source.
void small_string_insert(SmallString& s, int64_t i, const void* source, int64_t n);

/// Appends through the C library's printf; answers the number of characters appended.
int small_string_printf_append(SmallString& s, const char* format, ...)
    VELMARCH_PRINTF_FORMAT(2, 3);
/// Replaces the content through the C library's printf; answers the length now held.
int small_string_printf_assign(SmallString& s, const char* format, ...)
    VELMARCH_PRINTF_FORMAT(2, 3);

/// Appends through stb_sprintf, straight into the spare capacity, with a second pass only when
/// the first did not fit. Answers the start of the appended text; null when nothing was appended
/// or memory ran out.
char* small_string_format_append(SmallString& s, const char* format, ...)
    VELMARCH_PRINTF_FORMAT(2, 3);

/// Appends two hex digits per byte, separated by separator unless it is NUL; uppercase digits
/// only when uppercase is exactly 1.
void small_string_append_hex(SmallString& s, const void* bytes, int64_t count, char separator,
                             int uppercase);

}  // namespace velmarch
