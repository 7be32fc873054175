// The fields of a console form: a query text or an
// application/x-www-form-urlencoded body, or a multipart/form-data body
// with files (RFC 7578), read strictly and within bounds.
#ifndef QUARRIN_SERVER_CONSOLE_FORM_H_
#define QUARRIN_SERVER_CONSOLE_FORM_H_

#include <cstddef>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quarrin {

// A body or query that does not read; what() says where and why.
class FormError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct UploadedFile {
  std::string filename;  // as the browser named it, without a folder
  std::string data;
};

struct FormData {
  std::vector<std::pair<std::string, std::string>> fields;  // in order, repeats kept
  std::map<std::string, UploadedFile> files;                // by field name

  // The first value of a field; empty when there is none.
  std::string Field(std::string_view name) const;
  bool Has(std::string_view name) const;
};

// "a=1&b=x+y%21": names and values percent-decoded, "+" a blank. Throws
// FormError for a "%" not followed by two hexadecimal digits.
FormData ParseUrlEncoded(std::string_view text);

// At most this many parts, each with at most this much header text.
inline constexpr size_t kMaxMultipartParts = 32;
inline constexpr size_t kMaxPartHeaderBytes = 4096;

// A multipart/form-data body. `content_type` is the request's Content-Type
// header, which carries the boundary. Each part needs a Content-Disposition
// of form-data with a name; a part with a filename is a file (its folder,
// if a browser sent one, dropped). Throws FormError for anything else: no
// boundary, a body that does not begin with it or never closes, a part
// without a name, a file field given twice, too many parts or header text.
FormData ParseMultipart(std::string_view body, std::string_view content_type);

// The form of a request body by its Content-Type: multipart/form-data or
// else URL-encoded.
FormData ParseFormBody(std::string_view body, std::string_view content_type);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_CONSOLE_FORM_H_
