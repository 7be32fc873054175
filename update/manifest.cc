#include "update/manifest.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string_view>

namespace quarrin {

namespace {

// A failure with the type name that the "Error: " text carries.
class ManifestFailure : public std::runtime_error {
 public:
  ManifestFailure(const char* type, const std::string& message)
      : std::runtime_error(message), type_(type) {}
  const char* type() const { return type_; }

 private:
  const char* type_;
};

std::string FetchManifest(HttpClient& http, const std::string& url) {
  HttpRequest request;
  request.url = url;
  request.connect_timeout = kManifestConnectTimeout;
  request.total_timeout = kManifestTotalTimeout;
  request.max_body_bytes = kManifestMaxBytes;
  HttpResponse response;
  try {
    response = http.Send(request);
  } catch (const HttpError& e) {
    throw ManifestFailure(kHttpErrorType, e.what());
  }
  if (response.status != 200) {
    throw ManifestFailure(kHttpErrorType,
                          "HTTP status " + std::to_string(response.status) + " for " + url);
  }
  return std::move(response.body);
}

// True when an element called `name` is asked for by `wanted`: the same
// name, or the same name after a namespace prefix.
bool NameMatches(std::string_view name, std::string_view wanted) {
  if (name == wanted) return true;
  size_t colon = name.find(':');
  return colon != std::string_view::npos && name.substr(colon + 1) == wanted;
}

// The first child element called `name`; an empty handle when there is none
// (or when parent itself is empty).
pugi::xml_node Child(pugi::xml_node parent, std::string_view name) {
  for (pugi::xml_node child : parent.children()) {
    if (child.type() == pugi::node_element && NameMatches(child.name(), name)) return child;
  }
  return {};
}

// The root element, which must be "data".
pugi::xml_node DataElement(const pugi::xml_document& doc) {
  pugi::xml_node root = doc.document_element();
  if (!NameMatches(root.name(), "data")) {
    throw ManifestFailure(kManifestErrorType,
                          "The manifest's root element is \"" + std::string(root.name()) +
                              "\", not \"data\"");
  }
  return root;
}

std::string ElementText(pugi::xml_node element) {
  if (!element) return "";
  pugi::xml_node first = element.first_child();
  if (!first) return "";
  bool text = first.type() == pugi::node_pcdata || first.type() == pugi::node_cdata;
  if (!text || first.next_sibling()) {
    throw ManifestFailure(kManifestErrorType, "Element does not contain a single text node");
  }
  return first.value();
}

pugi::xml_document ParseManifest(const std::string& body) {
  pugi::xml_document doc;
  // Comments and processing instructions are kept: beside an element's text
  // they make it unreadable, as any other node does.
  pugi::xml_parse_result parsed = doc.load_buffer(
      body.data(), body.size(), pugi::parse_default | pugi::parse_comments | pugi::parse_pi);
  if (!parsed) {
    throw ManifestFailure(kXmlParseErrorType, std::string(parsed.description()) +
                                                  " at offset " +
                                                  std::to_string(parsed.offset));
  }
  return doc;
}

// A signed decimal 32-bit whole number; 0 for anything else.
int32_t VersionNumber(const std::string& text) {
  if (text.empty()) return 0;
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(begin, &end, 10);
  if (end == begin || *end != '\0' || errno == ERANGE ||
      value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    return 0;
  }
  return static_cast<int32_t>(value);
}

bool IsLower(const tFileVersion& a, const tFileVersion& b) {
  const int32_t left[] = {a.Major, a.Minor, a.Release, a.Build};
  const int32_t right[] = {b.Major, b.Minor, b.Release, b.Build};
  for (int i = 0; i < 4; ++i) {
    if (left[i] != right[i]) return left[i] < right[i];
  }
  return false;
}

// The "Error: " text of a failure.
std::string FailureText(const std::exception& e) {
  const auto* failure = dynamic_cast<const ManifestFailure*>(&e);
  return "Error: " + std::string(e.what()) + " (" + (failure ? failure->type() : "Exception") + ")";
}

}  // namespace

void ParseManifestVersion(const std::string& body, const std::string& section,
                          const tFileVersion& current, tFileUpdate* update) {
  update->UpdateAvailable = false;
  const std::string block = section.empty() ? kDefaultVersionSection : section;
  try {
    pugi::xml_document doc = ParseManifest(body);
    pugi::xml_node versions = Child(DataElement(doc), block);
    std::string texts[4];
    const char* names[4] = {"major", "minor", "release", "build"};
    for (int i = 0; i < 4; ++i) texts[i] = ElementText(Child(versions, names[i]));

    tFileVersion published;
    published.Major = VersionNumber(texts[0]);
    published.Minor = VersionNumber(texts[1]);
    published.Release = VersionNumber(texts[2]);
    published.Build = VersionNumber(texts[3]);
    published.Text = texts[0] + "." + texts[1] + "." + texts[2] + "." + texts[3];
    static_cast<tFileVersion&>(*update) = published;

    uint32_t sum = static_cast<uint32_t>(published.Major) + static_cast<uint32_t>(published.Minor) +
                   static_cast<uint32_t>(published.Release) +
                   static_cast<uint32_t>(published.Build);
    if (sum != 0) update->UpdateAvailable = IsLower(current, published);
  } catch (const std::exception& e) {
    update->Text = FailureText(e);
  }
}

std::string ParseManifestValue(const std::string& body, const std::string& name) {
  try {
    pugi::xml_document doc = ParseManifest(body);
    return ElementText(Child(DataElement(doc), name));
  } catch (const std::exception&) {
    return "";
  }
}

void ReadManifestVersion(HttpClient& http, const std::string& url, const std::string& section,
                         const tFileVersion& current, tFileUpdate* update) {
  std::string body;
  try {
    body = FetchManifest(http, url);
  } catch (const std::exception& e) {
    update->UpdateAvailable = false;
    update->Text = FailureText(e);
    return;
  }
  ParseManifestVersion(body, section, current, update);
}

void ReadManifestValue(HttpClient& http, const std::string& name, const std::string& url,
                       std::string* value) {
  *value = ReadManifestValues(http, url, {name}).front();
}

std::vector<std::string> ReadManifestValues(HttpClient& http, const std::string& url,
                                            const std::vector<std::string>& names) {
  std::vector<std::string> values(names.size());
  try {
    const std::string body = FetchManifest(http, url);
    for (size_t i = 0; i < names.size(); ++i) values[i] = ParseManifestValue(body, names[i]);
  } catch (const std::exception&) {
    std::ranges::fill(values, std::string());
  }
  return values;
}

}  // namespace quarrin
