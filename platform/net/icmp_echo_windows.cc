#include "platform/net/icmp_echo.h"

// winsock2.h before windows.h, which would bring the old winsock.h.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace quarrin {

namespace {

// Room that IcmpSendEcho wants beside the reply and its data: an ICMP
// error message and the status block of the call.
constexpr size_t kReplySlack = 8 + 32;

class IcmpHandle {
 public:
  IcmpHandle() : handle_(IcmpCreateFile()) {}
  ~IcmpHandle() {
    if (valid()) IcmpCloseHandle(handle_);
  }
  IcmpHandle(const IcmpHandle&) = delete;
  IcmpHandle& operator=(const IcmpHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

class WindowsIcmpEcho final : public IcmpEcho {
 public:
  bool Echo(uint32_t address, std::string_view payload, std::chrono::milliseconds timeout,
            std::string* reply_data) override;
};

bool WindowsIcmpEcho::Echo(uint32_t address, std::string_view payload,
                           std::chrono::milliseconds timeout, std::string* reply_data) {
  if (payload.size() > 0xFFFF) return false;
  IcmpHandle icmp;
  if (!icmp.valid()) return false;
  std::vector<char> request(payload.begin(), payload.end());
  std::vector<unsigned char> reply(sizeof(ICMP_ECHO_REPLY) + payload.size() + kReplySlack);
  const DWORD wait = static_cast<DWORD>(std::clamp<int64_t>(timeout.count(), 0, MAXDWORD - 1));
  SetLastError(0);
  const DWORD replies =
      IcmpSendEcho(icmp.get(), address, request.data(), static_cast<WORD>(request.size()),
                   nullptr, reply.data(), static_cast<DWORD>(reply.size()), wait);
  // No reply, yet no error either, counts as an answer: the call has nothing
  // to say against the host. A reply answers whatever its status.
  if (replies == 0) return GetLastError() == 0;
  if (reply_data != nullptr) {
    ICMP_ECHO_REPLY header;
    std::memcpy(&header, reply.data(), sizeof header);
    const auto* data = static_cast<const unsigned char*>(header.Data);
    const bool inside = data >= reply.data() && header.DataSize <= reply.size() &&
                        data - reply.data() <= static_cast<ptrdiff_t>(reply.size() - header.DataSize);
    reply_data->assign(inside ? reinterpret_cast<const char*>(data) : "",
                       inside ? header.DataSize : 0);
  }
  return true;
}

}  // namespace

IcmpEcho& SystemIcmpEcho() {
  static WindowsIcmpEcho echo;
  return echo;
}

}  // namespace quarrin
