#include "server/update_site.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <random>

#include "core/file_version.h"
#include "platform/files/file_io.h"
#include "platform/files/file_replace.h"
#include "platform/process/process_linux.h"
#include "server/machine_identity.h"
#include "update/update_signature.h"

namespace quarrin {

namespace {

constexpr char kManifestName[] = "QuarrinSrvc.xml";
constexpr size_t kMaxSignatureBytes = 64u << 10;
constexpr size_t kMaxBuildBytes = 512u << 20;

std::string ReadText(const std::string& path, size_t limit) {
  std::string text;
  bool cut = false;
  if (const int e = ReadFileCapped(path, limit, &text, &cut); e != 0) {
    throw UpdateSiteError(ErrnoMessage(path, e));
  }
  if (cut) throw UpdateSiteError(path + ": larger than " + std::to_string(limit) + " bytes");
  return text;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

// A published build's file: the one file of its folder that is no signature.
std::optional<std::string> BuildFile(const std::string& folder) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (!name.ends_with(".minisig") && entry.is_regular_file(ec)) return name;
  }
  return std::nullopt;
}

// The lines of a small state file, without their ends and trailing blanks.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

void WriteState(const std::string& path, const std::string& text) {
  if (!WriteFileAtomically(path, text, 0644)) throw UpdateSiteError(ErrnoMessage(path, errno));
}

void Copy(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) throw UpdateSiteError("copy " + from + " to " + to + ": " + ec.message());
}

}  // namespace

bool UpdateSite::KnownRing(const std::string& ring) const {
  if (ring == kMainRing) return true;
  for (const std::string& r : options_.rings) {
    if (r == ring) return true;
  }
  return false;
}

std::optional<std::string> UpdateSite::RingVersion(const std::string& ring) const {
  std::string text;
  if (ReadFileCapped(Folder("rings/" + ring), 64, &text) != 0) return std::nullopt;
  const std::vector<std::string> lines = Lines(text);
  if (lines.empty() || !VersionNumbers(lines[0])) return std::nullopt;
  return lines[0];
}

std::string UpdateSite::Publish(const std::string& file, const std::string& signature) {
  if (options_.update_key.empty()) {
    throw UpdateSiteError("no update_key in the settings: a build cannot be checked, so none is published");
  }
  const UpdatePublicKey key = ParseUpdatePublicKey(options_.update_key);
  const std::string minisig = ReadText(signature, kMaxSignatureBytes);
  try {
    VerifyFileSignature(key, minisig, file);
  } catch (const SignatureError& e) {
    throw UpdateSiteError(file + ": the signature " + signature + " does not verify: " + e.what());
  }
  const tFileVersion version = GetFileVersion(file);
  const std::array<int32_t, 4> numbers = {version.Major, version.Minor, version.Release, version.Build};
  if (numbers == std::array<int32_t, 4>{0, 0, 0, 0}) {
    throw UpdateSiteError(file + ": no version resource; an agent could not tell it is newer");
  }
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(Folder("builds"), ec)) {
    const std::string name = entry.path().filename().string();
    const std::optional<std::array<int32_t, 4>> published = VersionNumbers(name);
    if (published && *published >= numbers) {
      throw UpdateSiteError(file + ": version " + version.Text +
                            " is not newer than the published " + name);
    }
  }
  const std::string folder = Folder("builds/" + version.Text);
  const std::string staging = Folder("builds/." + version.Text + ".new");
  std::filesystem::remove_all(staging, ec);
  std::filesystem::create_directories(staging, ec);
  if (ec) throw UpdateSiteError("create " + staging + ": " + ec.message());
  const std::string name = std::filesystem::path(file).filename().string();
  Copy(file, staging + "/" + name);
  Copy(signature, staging + "/" + name + ".minisig");
  if (std::optional<std::string> why = MarkExecutable(staging + "/" + name)) throw UpdateSiteError(*why);
  // The build appears whole or not at all.
  std::filesystem::rename(staging, folder, ec);
  if (ec) throw UpdateSiteError("rename " + staging + " to " + folder + ": " + ec.message());
  Promote(version.Text, options_.rings.empty() ? kMainRing : options_.rings.front());
  return version.Text;
}

std::string UpdateSite::PublishBytes(const std::string& name, std::string_view executable,
                                     std::string_view signature) {
  const bool name_ok = !name.empty() && name.front() != '.' && name.size() <= 100 &&
                       name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789._-") == std::string::npos;
  if (!name_ok) throw UpdateSiteError("'" + name + "' is not a file name for a build");
  std::error_code ec;
  std::filesystem::create_directories(Folder("uploads"), ec);
  // A folder of its own, private, for each upload.
  std::random_device random;
  const std::string folder = Folder("uploads/" + std::to_string(random()) + std::to_string(random()));
  if (!std::filesystem::create_directory(folder, ec) || ec) {
    throw UpdateSiteError("create " + folder + ": " + (ec ? ec.message() : "it exists"));
  }
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
  struct Cleanup {
    std::string folder;
    ~Cleanup() {
      std::error_code ignored;
      std::filesystem::remove_all(folder, ignored);
    }
  } cleanup{folder};
  const std::string file = folder + "/" + name;
  for (const auto& [path, bytes] : {std::pair{file, executable}, std::pair{file + ".minisig", signature}}) {
    if (!WriteFileAtomically(path, std::string(bytes), 0600)) throw UpdateSiteError(ErrnoMessage(path, errno));
  }
  return Publish(file, file + ".minisig");
}

std::vector<std::string> UpdateSite::Builds() const {
  std::vector<std::pair<std::array<int32_t, 4>, std::string>> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(Folder("builds"), ec)) {
    const std::string name = entry.path().filename().string();
    if (const std::optional<std::array<int32_t, 4>> v = VersionNumbers(name)) found.emplace_back(*v, name);
  }
  std::sort(found.rbegin(), found.rend());
  std::vector<std::string> out;
  for (auto& [numbers, name] : found) out.push_back(std::move(name));
  return out;
}

std::vector<std::string> UpdateSite::Rings() const {
  std::vector<std::string> rings = options_.rings;
  rings.push_back(kMainRing);
  return rings;
}

void UpdateSite::Promote(const std::string& version, const std::string& ring) {
  Promote(version, ring,
          std::chrono::duration_cast<std::chrono::seconds>(
              std::chrono::system_clock::now().time_since_epoch())
              .count());
}

void UpdateSite::Promote(const std::string& version, const std::string& ring, int64_t now) {
  CheckRing(ring);
  if (!VersionNumbers(version) || !BuildFile(Folder("builds/" + version))) {
    throw UpdateSiteError("no published build " + version);
  }
  const std::optional<std::string> before = RingVersion(ring);
  if (before == version) return;
  std::error_code ec;
  std::filesystem::create_directories(Folder("rings"), ec);
  // The rollout first: a ring never serves a build without its record.
  WriteState(Folder("rings/" + ring + ".rollout"),
             "started " + std::to_string(now) + "\nprevious " + before.value_or("") + "\n");
  WriteState(Folder("rings/" + ring), version + "\n");
}

std::optional<std::string> UpdateSite::ServedVersion(const std::string& ring) const {
  std::optional<std::string> version = RingVersion(ring);
  if (!version || !Halted(ring)) return version;
  const std::optional<RingRollout> rollout = Rollout(ring);
  return rollout ? rollout->previous : std::nullopt;
}

std::optional<RingRollout> UpdateSite::Rollout(const std::string& ring) const {
  const std::optional<std::string> version = RingVersion(ring);
  std::string text;
  if (!version || ReadFileCapped(Folder("rings/" + ring + ".rollout"), 256, &text) != 0) {
    return std::nullopt;
  }
  RingRollout rollout{*version, std::nullopt, 0};
  for (const std::string& line : Lines(text)) {
    if (line.rfind("started ", 0) == 0) {
      const std::string n = line.substr(8);
      std::from_chars(n.data(), n.data() + n.size(), rollout.started);
    } else if (line.rfind("previous ", 0) == 0 && VersionNumbers(line.substr(9))) {
      rollout.previous = line.substr(9);
    }
  }
  return rollout;
}

void UpdateSite::Halt(const std::string& ring, const std::string& reason) {
  CheckRing(ring);
  const std::optional<std::string> version = RingVersion(ring);
  if (!version) throw UpdateSiteError("the ring " + ring + " has no build to halt");
  std::string one_line = reason;
  for (char& c : one_line) c = (c == '\n' || c == '\r') ? ' ' : c;
  WriteState(Folder("rings/" + ring + ".halt"), *version + "\n" + one_line + "\n");
}

std::optional<RingHalt> UpdateSite::Halted(const std::string& ring) const {
  std::string text;
  if (ReadFileCapped(Folder("rings/" + ring + ".halt"), 4096, &text) != 0) return std::nullopt;
  const std::vector<std::string> lines = Lines(text);
  if (lines.empty() || lines[0] != RingVersion(ring)) return std::nullopt;
  return RingHalt{lines[0], lines.size() > 1 ? lines[1] : ""};
}

void UpdateSite::Resume(const std::string& ring) {
  CheckRing(ring);
  const std::optional<RingHalt> halt = Halted(ring);
  if (!halt) throw UpdateSiteError("the ring " + ring + " is not halted");
  WriteState(Folder("rings/" + ring + ".resumed"), halt->version + "\n");
  std::error_code ec;
  std::filesystem::remove(Folder("rings/" + ring + ".halt"), ec);
  if (ec) throw UpdateSiteError("remove " + Folder("rings/" + ring + ".halt") + ": " + ec.message());
}

bool UpdateSite::Resumed(const std::string& ring) const {
  std::string text;
  if (ReadFileCapped(Folder("rings/" + ring + ".resumed"), 64, &text) != 0) return false;
  const std::vector<std::string> lines = Lines(text);
  return !lines.empty() && lines[0] == RingVersion(ring);
}

void UpdateSite::CheckRing(const std::string& ring) const {
  if (!KnownRing(ring)) throw UpdateSiteError("no ring '" + ring + "' in the settings");
}

std::string UpdateSite::Manifest(const std::string& ring) const {
  std::array<int32_t, 4> v = {0, 0, 0, 0};
  if (std::optional<std::string> version = ServedVersion(ring)) v = *VersionNumbers(*version);
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<data>\n  <VersionInfo><major>" +
         std::to_string(v[0]) + "</major><minor>" + std::to_string(v[1]) + "</minor><release>" +
         std::to_string(v[2]) + "</release><build>" + std::to_string(v[3]) +
         "</build></VersionInfo>\n  <Debug>" + Escaped(options_.debug) + "</Debug>\n  <Syslog>" +
         Escaped(options_.syslog) + "</Syslog>\n</data>\n";
}

std::optional<std::string> UpdateSite::ManifestRing(const std::string& path) {
  if (!Serves(path)) return std::nullopt;
  const std::string rest = path.substr(std::string_view("/downloads/").size());
  if (rest == kManifestName) return kMainRing;
  const size_t slash = rest.find('/');
  if (slash == std::string::npos || rest.substr(slash + 1) != kManifestName) return std::nullopt;
  return rest.substr(0, slash);
}

void UpdateSite::Handle(const HttpServerRequest& request, HttpServerReply& reply) const {
  const auto not_found = [&](const std::string& why) {
    reply.status = 404;
    reply.content_type = "text/plain";
    reply.body = "Not Found: " + why + "\r\n";
  };
  if (request.Command != "GET" && request.Command != "HEAD") {
    reply.status = 405;
    reply.content_type = "text/plain";
    reply.body = "the update site is read with GET\r\n";
    reply.headers = {{"Allow", "GET, HEAD"}};
    return;
  }
  std::string rest = request.Path.substr(std::string_view("/downloads/").size());  // either case
  std::string ring = kMainRing;
  if (const size_t slash = rest.find('/'); slash != std::string::npos) {
    ring = rest.substr(0, slash);
    rest = rest.substr(slash + 1);
    if (ring == kMainRing || !KnownRing(ring)) return not_found("no ring '" + ring + "'");
  }
  if (rest == kManifestName) {
    reply.content_type = "text/xml; charset=utf-8";
    reply.body = Manifest(ring);
    return;
  }
  const std::optional<std::string> version = ServedVersion(ring);
  if (!version) return not_found("the ring " + ring + " serves no build");
  const std::string folder = Folder("builds/" + *version);
  const std::optional<std::string> name = BuildFile(folder);
  if (!name || (rest != *name && rest != *name + ".minisig")) {
    return not_found("the ring " + ring + " has no file " + rest);
  }
  std::string bytes;
  if (ReadFileCapped(folder + "/" + rest, kMaxBuildBytes, &bytes) != 0) {
    return not_found("the file " + rest + " cannot be read");
  }
  reply.content_type = rest.ends_with(".minisig") ? "text/plain" : "application/octet-stream";
  reply.body = std::move(bytes);
}

}  // namespace quarrin
