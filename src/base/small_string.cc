#include "base/small_string.h"

#include <stb/stb_sprintf.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace velmarch {

SmallString::SmallString(StrView text) { append(text); }

SmallString::SmallString(const SmallString& other) { append(other.view()); }

SmallString::SmallString(SmallString&& other) noexcept
    : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
  other.data_ = nullptr;
  other.size_ = 0;
  other.capacity_ = 0;
}

SmallString& SmallString::operator=(const SmallString& other) {
  if (this != &other) {
    clear();
    append(other.view());
  }
  return *this;
}

SmallString& SmallString::operator=(SmallString&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = other.data_;
    size_ = other.size_;
    capacity_ = other.capacity_;
    other.data_ = nullptr;
    other.size_ = 0;
    other.capacity_ = 0;
  }
  return *this;
}

SmallString::~SmallString() { std::free(data_); }

char* SmallString::reserve(int64_t n) {
  if (n < 0) n = 0;
  if (data_ != nullptr && n <= capacity_) return data_;
  int64_t wanted = std::max(n, capacity_);
  auto* grown = static_cast<char*>(std::realloc(data_, static_cast<size_t>(wanted) + 1));
  if (grown == nullptr) return nullptr;
  if (data_ == nullptr) grown[0] = '\0';
  data_ = grown;
  capacity_ = wanted;
  return data_;
}

char* SmallString::append(const void* source, int64_t n) {
  if (n < 0) return nullptr;
  const char* from = static_cast<const char*>(source);
  // The source may lie inside this string, which a reallocation would move.
  bool inside = data_ != nullptr && from >= data_ && from <= data_ + size_;
  int64_t offset = inside ? from - data_ : 0;
  if (size_ + n > capacity_ || data_ == nullptr) {
    int64_t grown = std::max(size_ + n, capacity_ + capacity_ / 2);
    if (reserve(grown) == nullptr) return nullptr;
    if (inside) from = data_ + offset;
  }
  if (n > 0) std::memmove(data_ + size_, from, static_cast<size_t>(n));
  size_ += n;
  data_[size_] = '\0';
  return data_;
}

char* SmallString::extend(int64_t n) {
  if (n < 0 || data_ == nullptr || size_ + n > capacity_) return nullptr;
  char* first = data_ + size_;
  size_ += n;
  data_[size_] = '\0';
  return first;
}

void SmallString::set_length(int64_t n) {
  if (data_ == nullptr) return;
  size_ = std::clamp<int64_t>(n, 0, capacity_);
  data_[size_] = '\0';
}

void SmallString::free() {
  std::free(data_);
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
}

void small_string_insert(SmallString& s, int64_t i, const void* source, int64_t n) {
  if (n <= 0 || i < 0 || i > s.size()) return;
  // Copy first: the source may lie inside the string that is about to move.
  SmallString piece(StrView(static_cast<const char*>(source), static_cast<size_t>(n)));
  int64_t old_size = s.size();
  if (s.reserve(old_size + n) == nullptr) return;
  char* bytes = s.data();
  std::memmove(bytes + i + n, bytes + i, static_cast<size_t>(old_size - i));
  std::memcpy(bytes + i, piece.data(), static_cast<size_t>(n));
  s.set_length(old_size + n);
}

namespace {

int printf_append_list(SmallString& s, const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  int needed = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (needed <= 0) return 0;
  if (s.reserve(s.size() + needed) == nullptr) return 0;
  std::vsnprintf(s.data() + s.size(), static_cast<size_t>(needed) + 1, format, args);
  s.extend(needed);
  return needed;
}

}  // namespace

int small_string_printf_append(SmallString& s, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int appended = printf_append_list(s, format, args);
  va_end(args);
  return appended;
}

int small_string_printf_assign(SmallString& s, const char* format, ...) {
  SmallString fresh;
  va_list args;
  va_start(args, format);
  int needed = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (needed > 0) {
    if (fresh.reserve(needed) == nullptr) return static_cast<int>(s.size());
    va_start(args, format);
    std::vsnprintf(fresh.data(), static_cast<size_t>(needed) + 1, format, args);
    va_end(args);
    fresh.extend(needed);
  }
  s.clear();
  s.append(fresh.view());
  return static_cast<int>(s.size());
}

char* small_string_format_append(SmallString& s, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int64_t len = s.size();
  int64_t room = s.capacity() - len + 1;
  int needed = s.data() != nullptr
                   ? stbsp_vsnprintf(s.data() + len, static_cast<int>(room), format, args)
                   : stbsp_vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (s.data() == nullptr || needed >= room) {
    if (s.reserve(s.capacity() + needed) == nullptr) {
      va_end(again);
      s.set_length(len);
      return nullptr;
    }
    stbsp_vsnprintf(s.data() + len, static_cast<int>(s.capacity() - len + 1), format, again);
  }
  va_end(again);
  if (needed <= 0) {
    s.set_length(len);
    return nullptr;
  }
  return s.extend(needed);
}

void small_string_append_hex(SmallString& s, const void* bytes, int64_t count, char separator,
                             int uppercase) {
  if (count <= 0) return;
  int64_t needed = separator != '\0' ? count * 3 : count * 2;
  if (s.capacity() - s.size() < needed + 1 || s.data() == nullptr) {
    if (s.reserve(s.size() + needed + 1) == nullptr) return;
  }
  const char* digits = uppercase == 1 ? "0123456789ABCDEF" : "0123456789abcdef";
  const auto* from = static_cast<const unsigned char*>(bytes);
  char* out = s.data() + s.size();
  for (int64_t i = 0; i < count; ++i) {
    *out++ = digits[from[i] >> 4];
    *out++ = digits[from[i] & 0x0F];
    if (separator != '\0') *out++ = separator;
  }
  s.extend(separator != '\0' ? needed - 1 : needed);
}

}  // namespace velmarch
