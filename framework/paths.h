// Path functions of the framework under their familiar names, on the path
// words of this platform.
#pragma once

#include <string>
#include <string_view>


// The full path of the running program (Linux: its real file).
std::u16string ExeName();
// The application's title, which its message windows carry: the program's
// file name without its extension.
std::u16string ApplicationTitle();

// The folder part: up to and including the last delimiter; empty without one.
std::u16string ExtractFilePath(std::u16string_view path);
// The file-name part: after the last delimiter; the whole text without one.
std::u16string ExtractFileName(std::u16string_view path);
// The text ending in a delimiter (an empty text becomes the delimiter alone).
std::u16string IncludeTrailingPathDelimiter(std::u16string_view path);
// The text with one final delimiter removed.
std::u16string ExcludeTrailingPathDelimiter(std::u16string_view path);
// The full path, relative to the current folder; empty on failure.
std::u16string ExpandFileName(std::u16string_view path);
// The path names an existing file that is not a folder.
bool FileExists(std::u16string_view path);
// The path names an existing folder.
bool DirectoryExists(std::u16string_view path);
