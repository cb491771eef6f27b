#include "platform/WindowsText.h"

#include <windows.h>

namespace zo {

std::wstring WideOf(const std::string& Utf8) {
  if (Utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), static_cast<int>(Utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), static_cast<int>(Utf8.size()), wide.data(), n);
  return wide;
}

std::string Utf8Of(const std::wstring& Wide) {
  if (Wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, Wide.data(), static_cast<int>(Wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, Wide.data(), static_cast<int>(Wide.size()), text.data(), n,
                      nullptr, nullptr);
  return text;
}

std::string Utf8Of(const wchar_t* Wide) {
  return Wide != nullptr ? Utf8Of(std::wstring(Wide)) : std::string();
}

std::string SystemErrorText(unsigned long Code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, Code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = n > 0 ? Utf8Of(std::wstring(buffer, n)) : std::string();
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text.empty() ? "error " + std::to_string(Code) : text;
}

}  // namespace zo
