// The agents' update site: the manifest ("QuarrinSrvc.xml") and the builds
// with their detached signatures, per ring.
//
// Rings: the settings name the rings in order ("pilot"); after them comes
// "main", the ring of every agent whose DownloadURL is the site's root. A
// ring serves at most one build:
//   GET /downloads/QuarrinSrvc.xml              main's manifest
//   GET /downloads/<ring>/QuarrinSrvc.xml       the ring's manifest
//   GET /downloads/[<ring>/]<file>[.minisig]    the ring's build and signature
// A manifest's VersionInfo is its ring's build (0.0.0.0, never an update,
// while the ring has none); Debug and Syslog come from the settings.
//
// Files, below the downloads folder: builds/<a.b.c.d>/<file> and
// <file>.minisig, every build ever published; rings/<ring>, the version the
// ring serves; rings/<ring>.rollout, when the ring got it and the version it
// served before; rings/<ring>.halt, a halted rollout (its version and why);
// rings/<ring>.resumed, the version an administrator let go on.
//
// Halting. A ring whose rollout is halted offers the build it served
// before (none: 0.0.0.0, no update) until an administrator resumes it or
// promotes another build; a resumed rollout does not halt by itself again.
#ifndef QUARRIN_SERVER_UPDATE_SITE_H_
#define QUARRIN_SERVER_UPDATE_SITE_H_

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "http/http_server.h"

namespace quarrin {

inline constexpr char kMainRing[] = "main";

struct UpdateSiteOptions {
  std::string folder;
  std::vector<std::string> rings;  // before main, in order
  std::string update_key;          // minisign public key line; empty: nothing can be published
  std::string debug = "Off";
  std::string syslog;
};

class UpdateSiteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The build a ring got last, and from when.
struct RingRollout {
  std::string version;
  std::optional<std::string> previous;  // what it served before; none for its first build
  int64_t started = 0;                  // Unix seconds
};

struct RingHalt {
  std::string version;  // the build held back
  std::string reason;
};

// Safe for concurrent use by multiple threads; publishing and promoting
// are meant for one administrator at a time.
class UpdateSite {
 public:
  explicit UpdateSite(UpdateSiteOptions options) : options_(std::move(options)) {}

  // Publishes an executable with its minisign signature into the first
  // ring, keeping every earlier build. Refuses (UpdateSiteError) unless the
  // signature verifies against the update key and the file's version
  // resource is newer than every build published. Returns the version.
  std::string Publish(const std::string& file, const std::string& signature);
  // Publish for a build that came as bytes (an upload): `name` is the
  // executable's file name (letters, digits, ".", "_" and "-", not
  // beginning with "."). The bytes wait in a private folder below the
  // downloads folder while Publish checks them, and are removed after.
  std::string PublishBytes(const std::string& name, std::string_view executable,
                           std::string_view signature);
  // The versions of every published build, newest first.
  std::vector<std::string> Builds() const;
  // The rings in order, main last.
  std::vector<std::string> Rings() const;
  // Makes `ring` serve the published build `version`; a new build starts a
  // rollout (`now`: Unix seconds).
  void Promote(const std::string& version, const std::string& ring, int64_t now);
  void Promote(const std::string& version, const std::string& ring);
  // The version a ring has been given; nullopt when none.
  std::optional<std::string> RingVersion(const std::string& ring) const;
  // What the ring's manifest offers: its version, or while its rollout is
  // halted, the one before.
  std::optional<std::string> ServedVersion(const std::string& ring) const;
  // The ring's rollout of its version; nullopt when it has none or was
  // given it before rollouts were kept.
  std::optional<RingRollout> Rollout(const std::string& ring) const;
  // Holds back the ring's version. Throws UpdateSiteError.
  void Halt(const std::string& ring, const std::string& reason);
  // The ring's halt; nullopt when its current version is not halted.
  std::optional<RingHalt> Halted(const std::string& ring) const;
  // Lets the halted version go on, for good. Throws UpdateSiteError when
  // the ring is not halted.
  void Resume(const std::string& ring);
  // True iff an administrator resumed the ring's current version.
  bool Resumed(const std::string& ring) const;
  // The manifest of a ring.
  std::string Manifest(const std::string& ring) const;

  // Also under /Downloads/, the folder of the agent's built-in download URL.
  static bool Serves(const std::string& path) {
    return path.rfind("/downloads/", 0) == 0 || path.rfind("/Downloads/", 0) == 0;
  }
  void Handle(const HttpServerRequest& request, HttpServerReply& reply) const;
  // The ring whose manifest a path of the site names; nullopt for another file.
  static std::optional<std::string> ManifestRing(const std::string& path);

 private:
  bool KnownRing(const std::string& ring) const;
  void CheckRing(const std::string& ring) const;
  std::string Folder(const std::string& below) const { return options_.folder + "/" + below; }

  const UpdateSiteOptions options_;
};

}  // namespace quarrin

#endif  // QUARRIN_SERVER_UPDATE_SITE_H_
