#include "report/ping_host.h"

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "platform/net/ipv4_lookup.h"

namespace quarrin {

namespace {

constexpr char kEchoWord[] = "Quintar";

}  // namespace

std::string EchoPayload(int size) {
  if (size < kMinEchoSize) size = kMinEchoSize;
  std::string payload;
  const size_t word = std::strlen(kEchoWord);
  for (size_t i = 0; i < static_cast<size_t>(size) / word + 1; ++i) payload += kEchoWord;
  payload.resize(static_cast<size_t>(size));
  return payload;
}

uint32_t ResolveHostAddress(const std::string& host) {
  if (host.empty()) return 0;
  try {
    return LookupIPv4Address(host);
  } catch (const SocketError&) {
    return 0;
  }
}

bool PingHost(const std::string& host, int timeout_ms, int size, IcmpEcho& echo) {
  if (timeout_ms < 0) {
    throw std::invalid_argument("PingHost: the timeout must not be negative, got " +
                                std::to_string(timeout_ms));
  }
  if (size > kMaxEchoSize) {
    throw std::invalid_argument("PingHost: the size must not exceed " +
                                std::to_string(kMaxEchoSize) + ", got " + std::to_string(size));
  }
  if (host.empty()) return false;
  // 0.0.0.0 stands for "not resolved"; Linux would deliver an echo to it locally.
  const uint32_t address = ResolveHostAddress(host);
  if (address == 0) return false;
  return echo.Echo(address, EchoPayload(size), std::chrono::milliseconds(timeout_ms), nullptr);
}

}  // namespace quarrin
