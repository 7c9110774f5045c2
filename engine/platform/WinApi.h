#pragma once

// What the Win32 half of the platform layer shares: text and paths between the engine's UTF-8 and
// the system's UTF-16, and system error codes as the engine's error numbers. Windows only.

#include <string>

namespace morrow::win32 {

// UTF-8 to UTF-16 and back. Bytes that are not UTF-8 become U+FFFD, as do lone surrogates on the
// way back.
std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& utf16);

// `path` as the W functions take it. Device paths (\\.\E:, \\.\PhysicalDrive1) and paths that
// carry the \\?\ prefix already pass as they are. A path that would reach the old 260-character
// limit (MAX_PATH, 248 for folders) is made absolute and given the \\?\ prefix (\\?\UNC\ for
// \\server\share), which turns off the system's limit and its parsing: its separators become
// backslashes and its "." and ".." are resolved first.
std::wstring systemPath(const std::string& path);

// Error numbers as the engine keeps them (see OutputFile.h): the errno value of the same meaning
// where there is one, otherwise firstWindowsError + the Windows code.
inline constexpr int firstWindowsError = 1 << 20;
int errorNumber(unsigned long windowsCode);
// errorNumber(GetLastError()).
int lastError();

} // namespace morrow::win32
