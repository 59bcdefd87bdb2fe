#pragma once
// One ICMP echo to a handheld's fixed address. Plain C++: the reachability
// monitor calls it from worker threads, so implementations must allow
// concurrent calls.

#include <chrono>
#include <functional>
#include <mutex>
#include <string>

namespace orba {

// Status of an echo: 0 when the host answered, kEchoNotSent when no echo
// could be sent (an address that does not convert, or no socket), any other
// value when it did not answer.
inline constexpr int kEchoAnswered = 0;
inline constexpr int kEchoNotSent = -1;
inline constexpr int kEchoTimedOut = 11010;
inline constexpr int kEchoUnreachable = 11003;

class Pinger {
 public:
  virtual ~Pinger() = default;
  // Sends one echo to the dotted IPv4 `address` and waits for its answer.
  virtual int PingHost(const std::string& address) = 0;
  bool IsHostReachable(const std::string& address) { return PingHost(address) == kEchoAnswered; }
  // Why the last echo could not be sent for want of a socket, with how to
  // grant one; empty when the last attempt could open its socket.
  virtual std::string PermissionProblem() const { return {}; }
};

// Linux ICMP: the unprivileged ping socket (SOCK_DGRAM, allowed by
// net.ipv4.ping_group_range), else a raw socket (CAP_NET_RAW). One echo with
// the payload "hello" per call, a socket of its own per call.
class IcmpPinger final : public Pinger {
 public:
  // Opens a socket of `type` (SOCK_DGRAM or SOCK_RAW) for ICMP; -1 with errno
  // set when it cannot.
  using SocketOpener = std::function<int(int type)>;
  static int OpenIcmpSocket(int type);

  explicit IcmpPinger(std::chrono::milliseconds timeout = std::chrono::milliseconds(1000),
                      SocketOpener open_socket = &IcmpPinger::OpenIcmpSocket);

  int PingHost(const std::string& address) override;
  std::string PermissionProblem() const override;

 private:
  int Exchange(int fd, bool raw, unsigned int target);

  std::chrono::milliseconds timeout_;
  SocketOpener open_socket_;
  mutable std::mutex mutex_;
  std::string problem_;
};

}  // namespace orba
