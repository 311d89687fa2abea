#pragma once

#include <compare>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace qlt {

// An immutable string kept once per process, for the few names that object
// IDs repeat millions of times (store identifiers, entity names): copying,
// hashing and testing for equality are pointer operations. Interned texts
// are never freed.
class InternedString {
 public:
  InternedString();
  InternedString(std::string_view text);
  InternedString(const std::string& text) : InternedString(std::string_view(text)) {}
  InternedString(const char* text) : InternedString(std::string_view(text)) {}

  const std::string& str() const { return *text_; }
  operator const std::string&() const { return *text_; }
  operator std::string_view() const { return *text_; }
  bool empty() const { return text_->empty(); }
  size_t hash() const { return std::hash<const void*>()(text_); }

  bool operator==(const InternedString& other) const { return text_ == other.text_; }
  std::strong_ordering operator<=>(const InternedString& other) const {
    if (text_ == other.text_) return std::strong_ordering::equal;
    return *text_ <=> *other.text_;
  }
  friend bool operator==(const InternedString& lhs, const std::string& rhs) { return *lhs.text_ == rhs; }
  friend bool operator==(const InternedString& lhs, const char* rhs) { return *lhs.text_ == rhs; }
  friend std::string operator+(const std::string& lhs, const InternedString& rhs) { return lhs + *rhs.text_; }
  friend std::string operator+(const InternedString& lhs, const std::string& rhs) { return *lhs.text_ + rhs; }
  friend std::string operator+(const char* lhs, const InternedString& rhs) { return lhs + *rhs.text_; }
  friend std::string operator+(const InternedString& lhs, const char* rhs) { return *lhs.text_ + rhs; }

 private:
  const std::string* text_;
};

std::ostream& operator<<(std::ostream& stream, const InternedString& text);

}  // namespace qlt
