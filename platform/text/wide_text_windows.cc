#include "platform/text/wide_text_windows.h"

#include <windows.h>

#include <climits>

namespace quarrin {

namespace {

std::optional<std::wstring> Widen(std::string_view text, DWORD flags) {
  if (text.empty()) return std::wstring();
  if (text.size() > INT_MAX) return std::nullopt;
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(CP_UTF8, flags, text.data(), size, nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, flags, text.data(), size, out.data(), n);
  return out;
}

}  // namespace

std::optional<std::wstring> WideFromUtf8(std::string_view text) {
  return Widen(text, MB_ERR_INVALID_CHARS);
}

std::wstring WideFromUtf8Lenient(std::string_view text) {
  return Widen(text, 0).value_or(std::wstring());
}

std::string Utf8FromWide(std::wstring_view text) {
  if (text.empty() || text.size() > INT_MAX) return "";
  const int size = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return "";
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), n, nullptr, nullptr);
  return out;
}

std::string SystemErrorText(uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = n > 0 ? Utf8FromWide(std::wstring_view(buffer, n)) : "";
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text.empty() ? "error " + std::to_string(code) : text;
}

}  // namespace quarrin
