// The door of the HTTP server: accepts connections, refuses those over the
// limits, and holds each one, without a thread of its own, until its
// request head has arrived; only then does the HTTP library get it.
//
// So a client that opens connections and sends nothing, or trickles its
// head a byte at a time, costs a descriptor and a few bytes per connection
// for at most head_timeout, never a thread, and it never holds more than
// per_client_limit of the connection_limit places. A refused connection is
// answered at once and closed:
//   503 + Retry-After  the server is full, or the client holds per_client_limit
//   400                a request line that is not HTTP, or a request that
//                      ends (the client closes its side) before its head does
//   408                a head that has not arrived within head_timeout
// The request line is read as the client sent it (MSG_PEEK: the bytes stay
// for the HTTP library), since the library keeps only its parts.
//
// A connection that must be unwrapped before its head can be read (TLS
// that the system decrypts) goes, once admitted, to an unwrapper, which
// gives its plain text back through Adopt; its head time-out runs from its
// accept all the same, and it keeps its place meanwhile.
#ifndef QUARRIN_HTTP_CONNECTION_GATE_H_
#define QUARRIN_HTTP_CONNECTION_GATE_H_

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/agent_metrics.h"
#include "platform/net/ip_address.h"
#include "platform/net/tcp_socket.h"

namespace quarrin {

struct GateOptions {
  unsigned connection_limit = 64;  // waiting and handed over, all clients
  unsigned per_client_limit = 8;   // the same, from one address
  std::chrono::milliseconds head_timeout{5000};
  size_t head_limit = 32u << 10;  // a head this long is handed over unfinished
  std::chrono::seconds retry_after{5};
  // The body of the 503 and its content type; empty: a plain-text one.
  std::string busy_body;
  std::string busy_content_type;
  // False: a connection is handed over as soon as it is admitted, without
  // waiting for its head (which TLS hides), and without its request line.
  bool inspect_head = true;
  // Where refusals are counted; null: nowhere.
  AgentMetrics* metrics = nullptr;
  // A lane: connections whose request line `in_lane` picks also share
  // lane_limit places, and one past them is refused with the busy 503 as
  // its head arrives. For requests that past a few at once would only wait
  // for something scarcer than connections (the database), and that cost
  // a thread each before they could be turned away later on.
  std::function<bool(std::string_view request_line)> in_lane;
  unsigned lane_limit = 0;
};

// A connection the gate hands over, with the request line as sent and the
// key it is counted under until Release.
struct AdmittedConnection {
  TcpSocket socket = kNoTcpSocket;
  TcpPeer peer;
  std::string request_line;
  std::string client;
  std::chrono::steady_clock::time_point head_deadline = {};
  bool in_lane = false;  // holds one of the lane's places too
};

// The key a peer's connections are counted under: its address without the
// port (an IPv4-mapped IPv6 address counts as the IPv4 one).
std::string ClientKey(const IpAddress& peer);

class ConnectionGate {
 public:
  // Takes over the descriptor; called on the gate's thread.
  using Handover = std::function<void(AdmittedConnection)>;

  // `unwrap`, when given, takes every admitted connection first (on the
  // gate's thread) and returns it through Adopt or its place through
  // Release.
  ConnectionGate(const GateOptions& options, Handover handover, Handover unwrap = nullptr);
  ~ConnectionGate();  // Stop
  ConnectionGate(const ConnectionGate&) = delete;
  ConnectionGate& operator=(const ConnectionGate&) = delete;

  // Starts accepting on `listener` (non-blocking, listening; it stays the
  // caller's to close). False with the reason when the thread's wake-up
  // channel cannot be made.
  bool Start(TcpSocket listener, std::string* error);
  // Stops accepting and closes the connections still waiting. Connections
  // handed over stay counted until they are released.
  void Stop();
  // A handed-over connection of `client` has closed (`in_lane` as it was
  // handed over). Safe from any thread.
  void Release(const std::string& client, bool in_lane = false);
  // A connection that `unwrap` took, back as one to wait on for its head
  // until its head_deadline. Safe from any thread; after Stop it is closed
  // and its place released.
  void Adopt(AdmittedConnection connection);

 private:
  struct Waiting {
    TcpSocket socket = kNoTcpSocket;
    TcpPeer peer;
    std::string client;
    std::chrono::steady_clock::time_point deadline;
    // Where a part of the head waits and the system cannot be told to wake
    // the gate only for more: when to look again.
    std::chrono::steady_clock::time_point look_again;
    bool threshold_raised = false;  // wakes the gate only for more than a part seen
  };
  enum class Verdict { kWait, kHandOver, kClosed };

  void Run();
  void AcceptSome(std::chrono::steady_clock::time_point now);
  Verdict Examine(Waiting& w, bool peer_closed);
  void Count(HttpRefusal reason);
  // The 503 of a connection refused for want of places.
  std::string BusyReply() const;
  // Answers `reply`, closes the connection and forgets it.
  void Refuse(Waiting& w, const std::string& reply);

  const GateOptions options_;
  const Handover handover_;
  const Handover unwrap_;
  TcpSocket listener_ = kNoTcpSocket;
  TcpWakeup wake_;
  std::thread thread_;
  std::vector<Waiting> waiting_;  // the gate thread's own
  std::string peeked_;            // the gate thread's own
  std::chrono::steady_clock::time_point accept_paused_until_;

  std::mutex mu_;
  bool stopping_ = false;
  std::vector<AdmittedConnection> adopted_;  // for the gate's thread to take
  unsigned total_ = 0;
  unsigned in_lane_ = 0;
  std::unordered_map<std::string, unsigned> per_client_;
};

}  // namespace quarrin

#endif  // QUARRIN_HTTP_CONNECTION_GATE_H_
