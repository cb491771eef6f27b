// Text between the program's UTF-8 and the wide characters of the Windows calls (Windows only).
#pragma once

#include <string>

namespace zo {

std::wstring WideOf(const std::string& Utf8);
std::string Utf8Of(const std::wstring& Wide);
std::string Utf8Of(const wchar_t* Wide);

// The system's words for a Windows error code (GetLastError), without the trailing line break;
// "error <n>" when the system has none.
std::string SystemErrorText(unsigned long Code);

}  // namespace zo
