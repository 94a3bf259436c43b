// The framework's byte string: the control keeps its texts as ANSI bytes.
#pragma once

#include <string>

class CString {
 public:
  CString() = default;
  CString(const char* s) : s_(s ? s : "") {}  // NOLINT: converts like the framework's string
  CString& operator=(const char* s) {
    s_ = s ? s : "";
    return *this;
  }
  operator const char*() const { return s_.c_str(); }  // NOLINT
  bool operator==(const char* other) const { return other && s_ == other; }
  int GetLength() const { return static_cast<int>(s_.size()); }
  bool IsEmpty() const { return s_.empty(); }
  const std::string& str() const { return s_; }

 private:
  std::string s_;
};
