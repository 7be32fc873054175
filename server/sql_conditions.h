// The WHERE clause of a query whose conditions a caller picks, each with
// its parameters numbered as they come ($1, $2, ...).
#ifndef QUARRIN_SERVER_SQL_CONDITIONS_H_
#define QUARRIN_SERVER_SQL_CONDITIONS_H_

#include <optional>
#include <string>
#include <vector>

#include "server/pg.h"

namespace quarrin {

// Adds a condition together with its parameter.
class Conditions {
 public:
  explicit Conditions(PgParams* params) : params_(params) {}
  // `condition` names the parameter as $?; it is numbered here.
  void Add(std::string condition, std::optional<std::string> value) {
    params_->push_back(std::move(value));
    const size_t at = condition.find("$?");
    condition.replace(at, 2, "$" + std::to_string(params_->size()));
    text_ += (text_.empty() ? " WHERE " : " AND ") + condition;
  }
  // A condition with several parameters: each "$?" in turn.
  void AddMany(std::string condition, const std::vector<std::string>& values) {
    for (const std::string& v : values) {
      params_->push_back(v);
      const size_t at = condition.find("$?");
      condition.replace(at, 2, "$" + std::to_string(params_->size()));
    }
    text_ += (text_.empty() ? " WHERE " : " AND ") + condition;
  }
  // A condition without parameters.
  void AddText(const std::string& condition) {
    text_ += (text_.empty() ? " WHERE " : " AND ") + condition;
  }
  // A parameter for elsewhere in the statement (ORDER BY, LIMIT): its "$n".
  std::string Bind(std::optional<std::string> value) {
    params_->push_back(std::move(value));
    return "$" + std::to_string(params_->size());
  }
  const std::string& text() const { return text_; }

 private:
  PgParams* params_;
  std::string text_;
};

}  // namespace quarrin

#endif  // QUARRIN_SERVER_SQL_CONDITIONS_H_
