// A stand-in for the service desk's web interface, on loopback: it answers
// the workstation lookup (GET /sdw.dll/WorkStations?WorkStationName=...) with
// a record of the test's choice and notes every request that is not such a
// lookup.
#ifndef QUARRIN_TESTS_SERVICE_DESK_DOUBLE_H_
#define QUARRIN_TESTS_SERVICE_DESK_DOUBLE_H_

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tests/http_test_server.h"

namespace quarrin::testing {

// A lookup reply of one workstation whose element holds `inside` as it
// stands, for replies that AnswerRecord cannot make (extra, empty or odd
// elements).
inline std::string WorkstationRecord(const std::string& inside) {
  return "<WORKSTATIONS><WORKSTATION>" + inside + "</WORKSTATION></WORKSTATIONS>";
}

class ServiceDeskDouble {
 public:
  static constexpr char kLookupPath[] = "/sdw.dll/WorkStations";

  // Answers every lookup with a record without a workstation until told otherwise.
  ServiceDeskDouble();

  // "127.0.0.1:<port>": the web host setting that reaches the double.
  std::string WebHost() const { return "127.0.0.1:" + std::to_string(server_.port()); }

  // The reply to every lookup from now on.
  void Answer(TestReply reply);
  // A record of one workstation; an element whose text is nullopt is left out.
  void AnswerRecord(std::optional<std::string> service_tag,
                    std::optional<std::string> acquisition_date);

  // The WorkStationName of each lookup, as sent.
  std::vector<std::string> LookedUpNames() const;
  // Requests that were not a GET of the lookup path with a WorkStationName.
  std::vector<std::string> Violations() const;
  size_t RequestCount() const { return server_.RequestCount(); }

 private:
  TestReply Handle(const RecordedRequest& request);

  mutable std::mutex mu_;
  TestReply reply_;
  std::vector<std::string> names_;
  std::vector<std::string> violations_;
  HttpTestServer server_;  // last: stops its threads before the rest goes
};

}  // namespace quarrin::testing

#endif  // QUARRIN_TESTS_SERVICE_DESK_DOUBLE_H_
