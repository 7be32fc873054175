// A service runs in session 0, whose desktop nobody sees. The popup copy is
// started in the console's session with the logged-on user's token
// (WTSQueryUserToken, which LocalSystem may call), on that session's
// interactive desktop. It gets the texts through a pipe on its standard
// input and reports its window shown through an inherited event, whose
// handle value follows the switch on its command line.
#include "platform/ui/session_launcher_windows.h"

#include <windows.h>
#include <wtsapi32.h>

#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/text/ascii.h"
#include "platform/files/paths.h"
#include "platform/text/wide_text_windows.h"

namespace quarrin {
namespace {

// Each text as its length in decimal, a line feed and its bytes.
std::string EncodeTexts(const PopupTexts& texts) {
  std::string out;
  for (const std::string* field : {&texts.caption, &texts.date_time, &texts.from, &texts.text}) {
    out += std::to_string(field->size()) + "\n" + *field;
  }
  return out;
}

std::optional<PopupTexts> DecodeTexts(std::string_view in) {
  PopupTexts texts;
  for (std::string* field : {&texts.caption, &texts.date_time, &texts.from, &texts.text}) {
    const size_t line = in.find('\n');
    if (line == std::string_view::npos || line == 0 || line > 9) return std::nullopt;
    size_t size = 0;
    for (char c : in.substr(0, line)) {
      if (c < '0' || c > '9') return std::nullopt;
      size = size * 10 + static_cast<size_t>(c - '0');
    }
    in.remove_prefix(line + 1);
    if (size > in.size()) return std::nullopt;
    field->assign(in.substr(0, size));
    in.remove_prefix(size);
  }
  if (!in.empty()) return std::nullopt;
  return texts;
}

// A command-line argument as CommandLineToArgvW reads it back.
std::wstring Quoted(const std::wstring& arg) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  HANDLE* out() { return &h_; }
  HANDLE release() { return std::exchange(h_, nullptr); }
  void Close() {
    if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

class WinPopupProcess final : public PopupProcess {
 public:
  explicit WinPopupProcess(HANDLE process) : process_(process) {}
  bool running() override { return WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }
  void End(std::chrono::milliseconds limit) override {
    if (!running()) return;
    TerminateProcess(process_.get(), 0);
    WaitForSingleObject(process_.get(), static_cast<DWORD>(limit.count()));
  }

 private:
  Handle process_;
};

PopupLaunch Failed(std::string what, DWORD error) {
  return {PopupLaunch::Outcome::kFailed, what + ": " + SystemErrorText(error), nullptr};
}

class WtsPopupLauncher final : public PopupSessionLauncher {
 public:
  WtsPopupLauncher(std::string program, std::vector<std::string> leading_args,
                   std::function<uint32_t()> console_session)
      : program_(std::move(program)),
        leading_args_(std::move(leading_args)),
        console_session_(std::move(console_session)) {}

  PopupLaunch Launch(const PopupTexts& texts, std::chrono::milliseconds limit,
                     const CancelFlag& cancel) override {
    const uint32_t session = console_session_();
    if (session == kNoConsoleSession) {
      return {PopupLaunch::Outcome::kNoUser, "no session is attached to the console", nullptr};
    }
    Handle user;
    if (!WTSQueryUserToken(session, user.out())) {
      const DWORD error = GetLastError();
      if (error == ERROR_NO_TOKEN) {
        return {PopupLaunch::Outcome::kNoUser, "no user is logged on at the console", nullptr};
      }
      return Failed("WTSQueryUserToken", error);
    }
    Handle token;
    if (!DuplicateTokenEx(user.get(), MAXIMUM_ALLOWED, nullptr, SecurityIdentification,
                          TokenPrimary, token.out())) {
      return Failed("DuplicateTokenEx", GetLastError());
    }

    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Handle input_read, input_write;
    if (!CreatePipe(input_read.out(), input_write.out(), &inherited, 0)) {
      return Failed("CreatePipe", GetLastError());
    }
    SetHandleInformation(input_write.get(), HANDLE_FLAG_INHERIT, 0);
    Handle shown(CreateEventW(&inherited, TRUE, FALSE, nullptr));
    if (shown.get() == nullptr) return Failed("CreateEvent", GetLastError());

    std::wstring command = Quoted(WideFromUtf8Lenient(program_));
    for (const std::string& arg : leading_args_) command += L" " + Quoted(WideFromUtf8Lenient(arg));
    command += L" -" + WideFromUtf8Lenient(kPopupSwitch) + L" " +
               std::to_wstring(reinterpret_cast<uintptr_t>(shown.get()));
    // The copy inherits the pipe's reading end and the event, and nothing
    // else of the service (its listening socket least of all).
    HANDLE inherit[] = {input_read.get(), shown.get()};
    SIZE_T list_size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &list_size);
    std::vector<unsigned char> list_memory(list_size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_memory.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &list_size)) {
      return Failed("InitializeProcThreadAttributeList", GetLastError());
    }
    const bool listed = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherit,
                                                  sizeof inherit, nullptr, nullptr);
    const DWORD list_error = GetLastError();
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    wchar_t desktop[] = L"winsta0\\default";
    startup.StartupInfo.lpDesktop = desktop;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input_read.get();
    startup.lpAttributeList = list;
    PROCESS_INFORMATION started{};
    // No console for a copy that only shows a window.
    const bool created =
        listed && CreateProcessAsUserW(token.get(), WideFromUtf8Lenient(program_).c_str(),
                                       command.data(), nullptr, nullptr, TRUE,
                                       CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                                       nullptr, &startup.StartupInfo, &started);
    const DWORD create_error = GetLastError();
    DeleteProcThreadAttributeList(list);
    if (!listed) return Failed("UpdateProcThreadAttribute", list_error);
    if (!created) return Failed("CreateProcessAsUser", create_error);
    CloseHandle(started.hThread);
    Handle process(started.hProcess);
    input_read.Close();

    const std::string bytes = EncodeTexts(texts);
    DWORD written = 0;
    const bool sent = WriteFile(input_write.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                &written, nullptr) &&
                      written == bytes.size();
    input_write.Close();
    // In short slices, so that a stop does not wait for the copy.
    HANDLE waits[] = {shown.get(), process.get()};
    DWORD woke = sent ? WAIT_TIMEOUT : WAIT_FAILED;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (woke == WAIT_TIMEOUT && !cancel.IsSet() && std::chrono::steady_clock::now() < end) {
      woke = WaitForMultipleObjects(2, waits, FALSE, 50);
    }
    auto copy = std::make_unique<WinPopupProcess>(process.release());
    if (woke == WAIT_OBJECT_0) return {PopupLaunch::Outcome::kShown, "", std::move(copy)};
    copy->End(limit);
    return {PopupLaunch::Outcome::kFailed,
            woke == WAIT_OBJECT_0 + 1 ? "the popup process ended without showing its window"
                                      : "the popup process did not show its window in time",
            nullptr};
  }

 private:
  const std::string program_;
  const std::vector<std::string> leading_args_;
  const std::function<uint32_t()> console_session_;
};

// Reads the standard input to its end, up to `limit` bytes.
std::optional<std::string> ReadInput(size_t limit) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    bytes.append(buffer, got);
    if (bytes.size() > limit) return std::nullopt;
  }
  return bytes;
}

}  // namespace

std::unique_ptr<PopupSessionLauncher> NewWtsPopupLauncher(
    std::string program, std::vector<std::string> leading_args,
    std::function<uint32_t()> console_session) {
  return std::make_unique<WtsPopupLauncher>(std::move(program), std::move(leading_args),
                                            std::move(console_session));
}

std::unique_ptr<PopupSessionLauncher> NewSystemPopupSessionLauncher() {
  return NewWtsPopupLauncher(ExecutablePath(), {},
                             [] { return static_cast<uint32_t>(WTSGetActiveConsoleSessionId()); });
}

std::optional<PopupHandOver> ReceivePopupHandOver(const std::vector<std::string>& args) {
  // "-POPUP <event>" (or "/POPUP"), wherever it stands.
  for (size_t i = 1; i + 1 < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.empty() || (arg[0] != '-' && arg[0] != '/') ||
        !EqualsIgnoringAsciiCase(std::string_view(arg).substr(1), kPopupSwitch)) {
      continue;
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(args[i + 1].c_str(), &end, 10);
    if (end == args[i + 1].c_str() || *end != '\0') return std::nullopt;
    std::optional<std::string> bytes = ReadInput(1 << 20);
    if (!bytes) return std::nullopt;
    std::optional<PopupTexts> texts = DecodeTexts(*bytes);
    if (!texts) return std::nullopt;
    HANDLE shown = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
    return PopupHandOver{std::move(*texts), [shown] { SetEvent(shown); }};
  }
  return std::nullopt;
}

}  // namespace quarrin
