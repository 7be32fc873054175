#include "http/client_access.h"

#include <charconv>
#include <stdexcept>

namespace quarrin {
namespace {

// Request lines are the client's text: only so much of one is logged.
constexpr size_t kLoggedLineChars = 200;

std::vector<std::string_view> Entries(std::string_view text) {
  std::vector<std::string_view> entries;
  const std::string_view separators = ",; \t\r\n";
  size_t at = 0;
  while ((at = text.find_first_not_of(separators, at)) != std::string_view::npos) {
    size_t end = text.find_first_of(separators, at);
    if (end == std::string_view::npos) end = text.size();
    entries.push_back(text.substr(at, end - at));
    at = end;
  }
  return entries;
}

bool SamePrefix(const IpAddress& a, const IpAddress& b, int bits) {
  for (size_t i = 0; bits > 0; ++i, bits -= 8) {
    const uint8_t mask = bits >= 8 ? 0xff : static_cast<uint8_t>(0xff << (8 - bits));
    if ((a.bytes[i] & mask) != (b.bytes[i] & mask)) return false;
  }
  return true;
}

}  // namespace

AddressList AddressList::Parse(std::string_view setting, std::string_view text) {
  AddressList list;
  for (std::string_view entry : Entries(text)) {
    auto bad = [&](const std::string& why) {
      return std::invalid_argument("Deployment value '" + std::string(setting) + "': '" +
                                   std::string(entry) + "' " + why);
    };
    const size_t slash = entry.find('/');
    std::optional<IpAddress> base = ParseIpAddress(entry.substr(0, slash));
    if (!base) throw bad("is not an IPv4 or IPv6 address or network");
    const int width = base->IsIPv4() ? 32 : 128;
    int bits = width;
    if (slash != std::string_view::npos) {
      std::string_view length = entry.substr(slash + 1);
      auto [end, error] = std::from_chars(length.data(), length.data() + length.size(), bits);
      if (length.empty() || error != std::errc() || end != length.data() + length.size() ||
          bits < 0 || bits > width) {
        throw bad("has no prefix length from 0 to " + std::to_string(width));
      }
    }
    list.networks_.push_back({*base, bits + (128 - width)});
  }
  return list;
}

bool AddressList::Contains(const IpAddress& address) const {
  for (const Network& n : networks_) {
    if (SamePrefix(n.base, address, n.prefix_bits)) return true;
  }
  return false;
}

bool CommandActs(HttpCommand command) {
  switch (command) {
    case HttpCommand::kMessage:
    case HttpCommand::kSyslogTest:
    case HttpCommand::kDiskMap:
    case HttpCommand::kSetAttribute:
    case HttpCommand::kUpdate:
      return true;
    case HttpCommand::kApps:
    case HttpCommand::kMenu:
    case HttpCommand::kUsageChart:
    case HttpCommand::kOdx:
    case HttpCommand::kInfo:
    case HttpCommand::kMetrics:
      return false;
  }
  return true;
}

std::optional<std::string> AccessRefusal(const ClientAccess& access, HttpCommand command,
                                         const std::optional<IpAddress>& client) {
  auto in = [&](const AddressList& list) { return client && list.Contains(*client); };
  if (CommandActs(command)) {
    if (access.allowed_clients.empty() || in(access.allowed_clients)) return std::nullopt;
    return "Forbidden: this client may not use this command (AllowedClients)";
  }
  if (access.allowed_readers.empty() || in(access.allowed_readers) ||
      in(access.allowed_clients)) {
    return std::nullopt;
  }
  return "Forbidden: this client may not read from this agent (AllowedReaders)";
}

void RefusalLog::Refused(const std::string& client, std::string_view request_line,
                         std::string_view reason, std::chrono::steady_clock::time_point now) {
  uint64_t left_out;
  {
    std::lock_guard lock(mu_);
    if (last_ && now - *last_ < interval_) {
      ++left_out_;
      return;
    }
    last_ = now;
    left_out = left_out_;
    left_out_ = 0;
  }
  std::string text = "Refused HTTP request from " + (client.empty() ? "an unknown address" : client) +
                     ": " + std::string(request_line.substr(0, kLoggedLineChars)) + " (" +
                     std::string(reason) + ")";
  if (left_out > 0) {
    text += "; " + std::to_string(left_out) + " more refused since the last entry";
  }
  events_.WriteEventLog(text, EventType::kWarning, 0, kRefusedClientEvent);
}

}  // namespace quarrin
