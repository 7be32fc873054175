// The syslog collector: UDP datagrams (the agent's "%QUARN-..." messages and
// any RFC 3164 datagram) stored in the events table with the time received,
// the sender's address and the machine they belong to (syslog_message.h,
// V002__events.sql).
//
// Receiving never waits for the database: one thread takes datagrams off
// the socket into a bounded queue, another writes them in batches, one
// transaction per batch. A datagram that finds the queue full is dropped
// and counted, and so is a batch the database refused; a datagram longer
// than max_datagram_bytes is refused and counted, never stored.
#ifndef QUARRIN_SERVER_SYSLOG_COLLECTOR_H_
#define QUARRIN_SERVER_SYSLOG_COLLECTOR_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "server/pg_pool.h"

namespace quarrin {

struct SyslogCollectorOptions {
  std::string address;  // empty: every local address
  uint16_t port = 514;  // 0: the system picks one
  size_t queue_limit = 10000;
  size_t max_datagram_bytes = 8192;
  size_t batch = 500;
};

struct SyslogCounters {
  uint64_t received = 0;  // taken off the socket
  uint64_t stored = 0;
  uint64_t dropped = 0;  // the queue was full, or the database refused their batch
  uint64_t refused = 0;  // longer than max_datagram_bytes
};

class SyslogCollector {
 public:
  SyslogCollector(PgPool& pool, SyslogCollectorOptions options)
      : pool_(pool), options_(std::move(options)) {}
  ~SyslogCollector();  // Stop
  SyslogCollector(const SyslogCollector&) = delete;
  SyslogCollector& operator=(const SyslogCollector&) = delete;

  // Binds the port and starts both threads; false with the reason when it
  // cannot bind.
  bool Start(std::string* error);
  // Stops receiving, writes what is queued (for at most a few seconds) and
  // joins the threads.
  void Stop();
  uint16_t port() const { return port_; }
  SyslogCounters counters() const;

 private:
  struct Datagram {
    std::string received;  // UTC, as the database reads a timestamptz
    std::string sender;
    std::string bytes;
  };
  void Receive();
  void Write();
  void Store(const std::deque<Datagram>& batch);

  PgPool& pool_;
  const SyslogCollectorOptions options_;
  int socket_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread receiver_;
  std::thread writer_;
  std::mutex mu_;
  std::condition_variable queued_;
  std::deque<Datagram> queue_;
  bool receiving_done_ = false;
  std::atomic<uint64_t> received_{0}, stored_{0}, dropped_{0}, refused_{0};
};

}  // namespace quarrin

#endif  // QUARRIN_SERVER_SYSLOG_COLLECTOR_H_
