// Paths for the files fake in this build's own spelling: "/a/b" stays on
// Linux and becomes "C:\a\b" on Windows.
#pragma once

#include <string>
#include <string_view>

inline std::u16string P(std::u16string_view path) {
#ifdef _WIN32
  std::u16string out = u"C:";
  for (char16_t c : path) out += c == u'/' ? u'\\' : c;
  return out;
#else
  return std::u16string(path);
#endif
}

// The fake's key of a path written as above ("C:/a/b" on Windows, "a/b" on Linux).
inline std::string K(std::string_view path) {
#ifdef _WIN32
  return "C:" + std::string(path);
#else
  return std::string(path.substr(1));
#endif
}
