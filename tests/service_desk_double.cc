#include "tests/service_desk_double.h"

namespace quarrin::testing {

namespace {

constexpr char kNameParameter[] = "WorkStationName=";

}  // namespace

ServiceDeskDouble::ServiceDeskDouble()
    : reply_(Reply(200, "<WORKSTATIONS/>", "text/xml")),
      server_([this](const RecordedRequest& r) { return Handle(r); }) {}

void ServiceDeskDouble::Answer(TestReply reply) {
  std::lock_guard lock(mu_);
  reply_ = std::move(reply);
}

void ServiceDeskDouble::AnswerRecord(std::optional<std::string> service_tag,
                                     std::optional<std::string> acquisition_date) {
  std::string record =
      "<?xml version=\"1.0\"?>\n<WORKSTATIONS>\n <WORKSTATION>\n  <NAME>pc</NAME>\n";
  if (service_tag) record += "  <SERVICETAG>" + *service_tag + "</SERVICETAG>\n";
  if (acquisition_date)
    record += "  <ACQUISITIONDATE>" + *acquisition_date + "</ACQUISITIONDATE>\n";
  record += " </WORKSTATION>\n</WORKSTATIONS>\n";
  Answer(Reply(200, record, "text/xml"));
}

std::vector<std::string> ServiceDeskDouble::LookedUpNames() const {
  std::lock_guard lock(mu_);
  return names_;
}

std::vector<std::string> ServiceDeskDouble::Violations() const {
  std::lock_guard lock(mu_);
  return violations_;
}

TestReply ServiceDeskDouble::Handle(const RecordedRequest& request) {
  std::string query = request.Query();
  std::lock_guard lock(mu_);
  if (request.method != "GET" || request.path != kLookupPath ||
      query.rfind(kNameParameter, 0) != 0) {
    violations_.push_back(request.method + " " + request.target);
    return Reply(404, "not a workstation lookup");
  }
  names_.push_back(query.substr(sizeof kNameParameter - 1));
  return reply_;
}

}  // namespace quarrin::testing
