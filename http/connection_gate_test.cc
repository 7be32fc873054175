#include "http/connection_gate.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "http/raw_http_client_testing.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;
using testing::RawConnection;
using testing::ReadResponse;
using testing::SimpleRequest;

// A gate on loopback whose unwrapper (the TLS front's place) only keeps
// what it is given, for the test to adopt or release; what the gate hands
// over is kept too.
class UnwrappingGate {
 public:
  explicit UnwrappingGate(const GateOptions& options, bool unwrapping = true)
      : gate_(
            options,
            [this](AdmittedConnection c) { Keep(handed_, std::move(c)); },
            unwrapping ? ConnectionGate::Handover(
                             [this](AdmittedConnection c) { Keep(unwrapping_, std::move(c)); })
                       : nullptr) {
    std::string error;
    listener_ = OpenTcpListener(ParseIpAddress("127.0.0.1"), 0, 16, &port_, &error);
    EXPECT_NE(listener_, kNoTcpSocket) << error;
    EXPECT_TRUE(gate_.Start(listener_, &error)) << error;
  }
  ~UnwrappingGate() {
    gate_.Stop();
    for (auto* list : {&handed_, &unwrapping_}) {
      for (AdmittedConnection& c : *list) CloseTcp(c.socket);
    }
    CloseTcp(listener_);
  }

  uint16_t port() const { return port_; }
  ConnectionGate& gate() { return gate_; }
  // The next connection given to the unwrapper / handed over, waited for.
  AdmittedConnection NextUnwrapping() { return Next(unwrapping_); }
  AdmittedConnection NextHanded() { return Next(handed_); }

 private:
  void Keep(std::deque<AdmittedConnection>& list, AdmittedConnection c) {
    std::lock_guard lock(mu_);
    list.push_back(std::move(c));
    arrived_.notify_all();
  }
  AdmittedConnection Next(std::deque<AdmittedConnection>& list) {
    std::unique_lock lock(mu_);
    if (!arrived_.wait_for(lock, 30s, [&] { return !list.empty(); })) return {};
    AdmittedConnection c = std::move(list.front());
    list.pop_front();
    return c;
  }

  std::mutex mu_;
  std::condition_variable arrived_;
  std::deque<AdmittedConnection> unwrapping_;
  std::deque<AdmittedConnection> handed_;
  TcpSocket listener_ = kNoTcpSocket;
  uint16_t port_ = 0;
  ConnectionGate gate_;
};

TEST(ConnectionGateTest, ALanesRequestsPastItsPlacesAreRefusedAsTheirHeadsArriveAndTheRestPass) {
  GateOptions options;
  options.in_lane = [](std::string_view line) { return line.rfind("POST /lane ", 0) == 0; };
  options.lane_limit = 1;
  options.busy_body = "busy";
  options.busy_content_type = "text/plain";
  UnwrappingGate g(options, false);

  RawConnection first(g.port(), "127.0.0.2");
  first.Send(SimpleRequest("POST /lane HTTP/1.1"));
  AdmittedConnection held = g.NextHanded();
  ASSERT_NE(held.socket, kNoTcpSocket);
  EXPECT_TRUE(held.in_lane);
  // The lane is full for every client; other requests still pass.
  RawConnection second(g.port(), "127.0.0.3");
  second.Send(SimpleRequest("POST /lane HTTP/1.1"));
  const testing::RawResponse refused = ReadResponse(second, 30s);
  EXPECT_EQ(refused.status, 503);
  EXPECT_EQ(refused.body, "busy");
  RawConnection other(g.port(), "127.0.0.3");
  other.Send(SimpleRequest("POST /lanes HTTP/1.1"));
  AdmittedConnection passed = g.NextHanded();
  EXPECT_EQ(passed.request_line, "POST /lanes HTTP/1.1");
  EXPECT_FALSE(passed.in_lane);
  // The lane's place comes back with the connection's.
  CloseTcp(held.socket);
  g.gate().Release(held.client, held.in_lane);
  RawConnection third(g.port(), "127.0.0.4");
  third.Send(SimpleRequest("POST /lane HTTP/1.1"));
  AdmittedConnection again = g.NextHanded();
  EXPECT_TRUE(again.in_lane);
  for (AdmittedConnection* c : {&passed, &again}) {
    CloseTcp(c->socket);
    g.gate().Release(c->client, c->in_lane);
  }
}

TEST(ConnectionGateTest, AnUnwrappedConnectionKeepsItsPlaceAndItsHeadDeadlineFromItsAccept) {
  GateOptions options;
  options.per_client_limit = 1;
  options.head_timeout = 2s;
  UnwrappingGate g(options);

  // The head is read once the unwrapper gives the connection back; the
  // client's address stays the one the gate accepted.
  const auto before = std::chrono::steady_clock::now();
  RawConnection a(g.port(), "127.0.0.2");
  ASSERT_TRUE(a.valid());
  a.Send(SimpleRequest("GET /a HTTP/1.1"));
  AdmittedConnection unwrapping = g.NextUnwrapping();
  const auto after = std::chrono::steady_clock::now();
  ASSERT_NE(unwrapping.socket, kNoTcpSocket);
  EXPECT_GE(unwrapping.head_deadline, before + options.head_timeout);
  EXPECT_LE(unwrapping.head_deadline, after + options.head_timeout);
  EXPECT_EQ(unwrapping.peer.ip.Text(), "127.0.0.2");
  // Meanwhile it holds the client's one place.
  RawConnection refused(g.port(), "127.0.0.2");
  refused.Send(SimpleRequest("GET /b HTTP/1.1"));
  EXPECT_EQ(ReadResponse(refused, 30s).status, 503);
  g.gate().Adopt(unwrapping);
  AdmittedConnection handed = g.NextHanded();
  EXPECT_EQ(handed.request_line, "GET /a HTTP/1.1");
  EXPECT_EQ(handed.peer.ip.Text(), "127.0.0.2");
  SendFinalTcp(handed.socket, "done");
  CloseTcp(handed.socket);
  g.gate().Release(handed.client);

  // Given back after its deadline, a connection without its head is
  // answered 408 at once.
  RawConnection late(g.port(), "127.0.0.3");
  AdmittedConnection slow = g.NextUnwrapping();
  std::this_thread::sleep_until(slow.head_deadline + 10ms);
  g.gate().Adopt(slow);
  EXPECT_EQ(ReadResponse(late, 30s).status, 408);

  // One that the unwrapper gave up on gives its place back.
  RawConnection failed(g.port(), "127.0.0.4");
  AdmittedConnection dropped = g.NextUnwrapping();
  CloseTcp(dropped.socket);
  g.gate().Release(dropped.client);
  RawConnection again(g.port(), "127.0.0.4");
  AdmittedConnection admitted = g.NextUnwrapping();
  EXPECT_EQ(admitted.peer.ip.Text(), "127.0.0.4");

  // After the gate stops, what comes back is closed.
  g.gate().Stop();
  g.gate().Adopt(admitted);
  bool closed = false;
  again.ReadToEnd(30s, &closed);
  EXPECT_TRUE(closed);
}

}  // namespace
}  // namespace quarrin
