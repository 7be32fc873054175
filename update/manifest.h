// The update manifest: a small XML document that the maker publishes next to
// the program ("QuarrinSrvc.xml") with the newest version and a few plain
// settings:
//
//   <data>
//     <VersionInfo><major>1</major><minor>0</minor>
//       <release>0</release><build>1</build></VersionInfo>
//     <Debug>Off</Debug>
//     <Syslog>collector.example.org</Syslog>
//   </data>
//
// Lookup rules, for every step of a path: a child element is found by its
// exact name, letter case included, a namespace prefix left aside ("x:Debug"
// matches "Debug"); the first match counts; a missing element reads as
// empty text. The root must be "data". An element's text is its single text
// or CDATA node, empty for an empty element; an element holding child
// elements or mixed content cannot be read ("Element does not contain a
// single text node"). A version number is the text as a signed decimal
// 32-bit whole number; anything else reads as 0.
//
// Every call fetches the document again (nothing is cached) with a GET,
// kManifestConnectTimeout to connect and kManifestTotalTimeout in all; a
// body over kManifestMaxBytes, a status other than 200, or a document that
// does not parse is a failure.
#ifndef QUARRIN_UPDATE_MANIFEST_H_
#define QUARRIN_UPDATE_MANIFEST_H_

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "core/file_version.h"
#include "platform/net/http_client.h"

namespace quarrin {

inline constexpr std::chrono::milliseconds kManifestConnectTimeout{3000};
inline constexpr std::chrono::milliseconds kManifestTotalTimeout{15000};
inline constexpr size_t kManifestMaxBytes = 1u << 20;  // 1 MiB
inline constexpr char kDefaultVersionSection[] = "VersionInfo";

// Failure type names in the "Error: " texts of ReadManifestVersion:
//   EHttpError      the document could not be fetched: no connection,
//                   time-out, too large, or a status other than 200
//   EXmlParseError  the body is not a well-formed XML document
//   EManifestError  the root is not "data", or an element does not hold a
//                   single text node
inline constexpr char kHttpErrorType[] = "EHttpError";
inline constexpr char kXmlParseErrorType[] = "EXmlParseError";
inline constexpr char kManifestErrorType[] = "EManifestError";

// Reads the version block `section` (empty: "VersionInfo") of the manifest
// at url into *update and sets UpdateAvailable when that version is newer
// than current. The text is the four element texts as written, joined with
// "." ("..." for a missing block). A block whose numbers add up to zero
// (32-bit, wrapping) never reports an update. The comparison goes major,
// minor, release, build, each a signed 32-bit number.
//
// On failure UpdateAvailable is false, Text is "Error: " + message + " (" +
// type name + ")", and the four numbers keep what the caller had in them.
// Never throws.
void ReadManifestVersion(HttpClient& http, const std::string& url, const std::string& section,
                         const tFileVersion& current, tFileUpdate* update);

// The text of the element `name` below "data" of the manifest at url; empty
// when it is missing and on any failure. Never throws.
void ReadManifestValue(HttpClient& http, const std::string& name, const std::string& url,
                       std::string* value);

// The texts of the elements `names` below "data", from one fetch of the
// manifest at url, in the order asked; each as ReadManifestValue would read
// it on its own. Never throws.
std::vector<std::string> ReadManifestValues(HttpClient& http, const std::string& url,
                                            const std::vector<std::string>& names);

// ReadManifestVersion and ReadManifestValue on a fetched body: the parse
// step alone, with the same results and failure texts.
void ParseManifestVersion(const std::string& body, const std::string& section,
                          const tFileVersion& current, tFileUpdate* update);
std::string ParseManifestValue(const std::string& body, const std::string& name);

}  // namespace quarrin

#endif  // QUARRIN_UPDATE_MANIFEST_H_
