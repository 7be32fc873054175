#include "server/console/form.h"

#include <optional>

#include "platform/text/ascii.h"
#include "server/query_text.h"

namespace quarrin {

namespace {

// The parameters of a header value after its first word: `name=token` or
// `name="quoted"` (a backslash takes the next character as it is), split
// at ";" outside quotes. Names in lower case.
std::map<std::string, std::string> HeaderParameters(std::string_view value, std::string* first) {
  std::map<std::string, std::string> out;
  size_t i = value.find(';');
  *first = LowerAscii(std::string(TrimBlanks(value.substr(0, i))));
  while (i != std::string_view::npos && i < value.size()) {
    ++i;  // past ";"
    const size_t equals = value.find('=', i);
    if (equals == std::string_view::npos) break;
    const std::string name = LowerAscii(std::string(TrimBlanks(value.substr(i, equals - i))));
    size_t j = equals + 1;
    while (j < value.size() && value[j] == ' ') ++j;
    std::string text;
    if (j < value.size() && value[j] == '"') {
      for (++j; j < value.size() && value[j] != '"'; ++j) {
        if (value[j] == '\\' && j + 1 < value.size()) ++j;
        text += value[j];
      }
      if (j >= value.size()) throw FormError("a quoted header value does not close");
      i = value.find(';', j);
    } else {
      i = value.find(';', j);
      text = TrimBlanks(value.substr(j, i == std::string_view::npos ? std::string_view::npos : i - j));
    }
    out[name] = std::move(text);
  }
  return out;
}

std::string Boundary(std::string_view content_type) {
  std::string first;
  const std::map<std::string, std::string> params = HeaderParameters(content_type, &first);
  const auto it = params.find("boundary");
  if (first != "multipart/form-data" || it == params.end() || it->second.empty() ||
      it->second.size() > 70) {
    throw FormError("the multipart body has no boundary of 1 to 70 characters");
  }
  return it->second;
}

void AddPart(std::string_view headers, std::string_view data, FormData* form) {
  std::optional<std::map<std::string, std::string>> disposition;
  while (!headers.empty()) {
    const size_t end = headers.find("\r\n");
    const std::string_view line = headers.substr(0, end);
    headers = end == std::string_view::npos ? std::string_view() : headers.substr(end + 2);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) throw FormError("a part's header line has no colon");
    if (LowerAscii(std::string(TrimBlanks(line.substr(0, colon)))) != "content-disposition") continue;
    std::string kind;
    disposition = HeaderParameters(line.substr(colon + 1), &kind);
    if (kind != "form-data") throw FormError("a part is not form-data");
  }
  if (!disposition || disposition->count("name") == 0 || disposition->at("name").empty()) {
    throw FormError("a part has no Content-Disposition with a name");
  }
  const std::string& name = disposition->at("name");
  const auto filename = disposition->find("filename");
  if (filename == disposition->end()) {
    form->fields.emplace_back(name, std::string(data));
    return;
  }
  std::string base = filename->second;
  if (const size_t slash = base.find_last_of("/\\"); slash != std::string::npos) {
    base.erase(0, slash + 1);
  }
  if (!form->files.emplace(name, UploadedFile{base, std::string(data)}).second) {
    throw FormError("the file field " + name + " is given twice");
  }
}

}  // namespace

std::string FormData::Field(std::string_view name) const {
  for (const auto& [key, value] : fields) {
    if (key == name) return value;
  }
  return "";
}

bool FormData::Has(std::string_view name) const {
  for (const auto& field : fields) {
    if (field.first == name) return true;
  }
  return false;
}

FormData ParseUrlEncoded(std::string_view text) {
  FormData form;
  while (!text.empty()) {
    const size_t amp = text.find('&');
    const std::string_view pair = text.substr(0, amp);
    text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    const std::optional<std::string> name = PercentDecode(pair.substr(0, equals));
    const std::optional<std::string> value =
        PercentDecode(equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1));
    if (!name || !value) throw FormError("a form field is not percent-encoded text");
    form.fields.emplace_back(std::move(*name), std::move(*value));
  }
  return form;
}

FormData ParseMultipart(std::string_view body, std::string_view content_type) {
  const std::string delimiter = "--" + Boundary(content_type);
  const std::string next_delimiter = "\r\n" + delimiter;
  if (body.substr(0, delimiter.size()) != delimiter) {
    throw FormError("the multipart body does not begin with its boundary");
  }
  FormData form;
  size_t pos = delimiter.size();
  for (size_t parts = 0;; ++parts) {
    if (body.substr(pos, 2) == "--") return form;  // the closing delimiter
    if (body.substr(pos, 2) != "\r\n") throw FormError("a boundary line has text after it");
    if (parts == kMaxMultipartParts) {
      throw FormError("more than " + std::to_string(kMaxMultipartParts) + " parts");
    }
    // The header block ends at the first empty line; it may be empty itself.
    const size_t header_end = body.find("\r\n\r\n", pos);
    if (header_end == std::string_view::npos || header_end - pos > kMaxPartHeaderBytes) {
      throw FormError("a part's header is missing or longer than " +
                      std::to_string(kMaxPartHeaderBytes) + " bytes");
    }
    const std::string_view headers =
        header_end == pos ? std::string_view() : body.substr(pos + 2, header_end - pos - 2);
    const size_t data_start = header_end + 4;
    const size_t data_end = body.find(next_delimiter, data_start);
    if (data_end == std::string_view::npos) throw FormError("the multipart body never closes");
    AddPart(headers, body.substr(data_start, data_end - data_start), &form);
    pos = data_end + next_delimiter.size();
  }
}

FormData ParseFormBody(std::string_view body, std::string_view content_type) {
  const std::string type = LowerAscii(std::string(TrimBlanks(content_type.substr(0, content_type.find(';')))));
  if (type == "multipart/form-data") return ParseMultipart(body, content_type);
  return ParseUrlEncoded(body);
}

}  // namespace quarrin
