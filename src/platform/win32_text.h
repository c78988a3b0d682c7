// UTF-8 inside the program, UTF-16 at every Windows call.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <string_view>

namespace tlq {

inline std::wstring widen(std::string_view text) {
  if (text.empty()) return {};
  int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

inline std::string narrow(std::wstring_view text) {
  if (text.empty()) return {};
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), n, nullptr, nullptr);
  return utf8;
}

// A path as the file calls take it: beyond the old limit of 260 characters
// (and 248 for a folder's own name) in its extended form ("\\?\C:\...",
// "\\?\UNC\server\..."), made absolute, since that form takes no
// relative step; as it is below.
inline std::wstring widePath(std::string_view path) {
  std::wstring wide = widen(path);
  if (wide.size() < 248 || wide.starts_with(L"\\\\?\\")) return wide;
  DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return wide;
  std::wstring full(n, L'\0');
  n = ::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  full.resize(n);
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// The system's text for an error code, from its message table, in the
// default language, without inserts or line breaks; "unknown error" when it
// has none.
inline std::string systemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                 FORMAT_MESSAGE_MAX_WIDTH_MASK,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = n && buffer ? narrow(std::wstring_view(buffer, n)) : std::string();
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return text.empty() ? "unknown error" : text;
}

}  // namespace tlq
