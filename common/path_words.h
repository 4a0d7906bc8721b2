// Path words: folder part, file-name part and trailing delimiters of a path,
// for a given set of delimiters. Pure text operations; no file system access.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>

namespace common {

// The characters that structure a path on one platform.
struct PathDelimiters {
  // Characters that end a folder name; the first is the one a trailing
  // delimiter adds.
  std::u16string_view Separators;
  // Characters that end a drive name ("C:"); none where there are no drives.
  std::u16string_view DriveMarks;
};

// Windows: "\" separates folders, ":" ends a drive.
inline constexpr PathDelimiters kWindowsPathDelimiters{u"\\", u":"};
// What the Windows file system itself takes as separators when it opens a
// path: "/" as well, which the path words above leave inside a name. A name
// that is opened beneath a folder is split by these.
inline constexpr PathDelimiters kWindowsFileSystemDelimiters{u"\\/", u":"};
// Linux: both "/" and "\" separate folders (a "\" becomes "/" at the file
// system); there are no drives.
inline constexpr PathDelimiters kLinuxPathDelimiters{u"/\\", u""};

inline bool IsSeparator(char16_t c, const PathDelimiters& delimiters) {
  return delimiters.Separators.find(c) != std::u16string_view::npos;
}

namespace detail {
// Index just past the last separator or drive mark; 0 when there is none.
// The delimiters are ASCII, so narrow text is read byte by byte.
template <class Char>
std::size_t FileNameStart(std::basic_string_view<Char> path, const PathDelimiters& delimiters) {
  for (std::size_t i = path.size(); i > 0; --i) {
    const auto c = static_cast<char16_t>(static_cast<std::make_unsigned_t<Char>>(path[i - 1]));
    if (IsSeparator(c, delimiters) || delimiters.DriveMarks.find(c) != std::u16string_view::npos) return i;
  }
  return 0;
}
}  // namespace detail

// Index just past the last separator or drive mark; 0 when there is none.
inline std::size_t FileNameStart(std::u16string_view path, const PathDelimiters& delimiters) {
  return detail::FileNameStart(path, delimiters);
}

// The text up to and including its last separator or drive mark; empty when it has neither.
inline std::u16string FolderPart(std::u16string_view path, const PathDelimiters& delimiters) {
  return std::u16string(path.substr(0, FileNameStart(path, delimiters)));
}

// The text after its last separator or drive mark; the whole text when it has neither.
inline std::u16string FileNamePart(std::u16string_view path, const PathDelimiters& delimiters) {
  return std::u16string(path.substr(FileNameStart(path, delimiters)));
}

// The same for narrow text, such as the names the system gives as bytes.
inline std::string FileNamePart(std::string_view path, const PathDelimiters& delimiters) {
  return std::string(path.substr(detail::FileNameStart(path, delimiters)));
}

// The text with the first separator appended unless it already ends with a
// separator; an empty text becomes the separator alone.
inline std::u16string WithTrailingDelimiter(std::u16string_view path, const PathDelimiters& delimiters) {
  std::u16string out(path);
  if (out.empty() || !IsSeparator(out.back(), delimiters)) out += delimiters.Separators.front();
  return out;
}

// The text with one final separator removed, if it ends with one.
inline std::u16string WithoutTrailingDelimiter(std::u16string_view path, const PathDelimiters& delimiters) {
  if (!path.empty() && IsSeparator(path.back(), delimiters)) path.remove_suffix(1);
  return std::u16string(path);
}

}  // namespace common
