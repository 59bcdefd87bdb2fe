#pragma once
// A TCP proxy on 127.0.0.1 in front of a PostgreSQL server's unix socket that
// holds every piece of the conversation back for a fixed delay each way, as a
// server on another PC would, and counts the client's round trips: a turn is
// a burst from the client followed by a burst from the server.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <time.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace bench {

class DelayProxy {
 public:
  using Clock = std::chrono::steady_clock;

  // Listens on 127.0.0.1 (a port of the system's choosing) and forwards each
  // connection to the unix socket `server_socket`.
  DelayProxy(std::string server_socket, std::chrono::microseconds delay)
      : server_socket_(std::move(server_socket)), delay_(delay) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 4) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("proxy: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~DelayProxy() {
    stop_ = true;
    thread_.join();
    close(listener_);
  }
  DelayProxy(const DelayProxy&) = delete;
  DelayProxy& operator=(const DelayProxy&) = delete;

  int Port() const { return port_; }
  long long RoundTrips() const { return turns_.load(); }

 private:
  struct Piece {
    Clock::time_point due;
    std::string bytes;
  };
  struct Direction {
    int from;
    int to;
    std::deque<Piece> held;
  };

  int ConnectServer() const {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, server_socket_.c_str(), sizeof address.sun_path - 1);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      if (fd >= 0) close(fd);
      return -1;
    }
    return fd;
  }

  void Serve() {
    while (!stop_) {
      pollfd waiting{listener_, POLLIN, 0};
      if (poll(&waiting, 1, 50) <= 0) continue;
      const int client = accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      const int one = 1;
      setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      const int server = ConnectServer();
      if (server >= 0) Relay(client, server);
      close(client);
      if (server >= 0) close(server);
    }
  }

  // One connection until either side ends it or the proxy stops.
  void Relay(int client, int server) {
    Direction up{client, server, {}};
    Direction down{server, client, {}};
    bool client_spoke_last = false;
    char buffer[65536];
    while (!stop_) {
      const auto now = Clock::now();
      for (Direction* d : {&up, &down}) {
        while (!d->held.empty() && d->held.front().due <= now) {
          const std::string& bytes = d->held.front().bytes;
          for (std::size_t sent = 0; sent < bytes.size();) {
            const ssize_t n = send(d->to, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<std::size_t>(n);
          }
          d->held.pop_front();
        }
      }
      auto timeout = std::chrono::nanoseconds(std::chrono::milliseconds(50));
      for (Direction* d : {&up, &down}) {
        if (!d->held.empty()) timeout = std::min(timeout, std::max(d->held.front().due - now, Clock::duration::zero()));
      }
      const timespec wait{static_cast<time_t>(timeout.count() / 1000000000), static_cast<long>(timeout.count() % 1000000000)};
      pollfd sides[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      if (ppoll(sides, 2, &wait, nullptr) < 0) return;
      for (int i = 0; i < 2; ++i) {
        if ((sides[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        const ssize_t n = recv(sides[i].fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        const bool from_client = i == 0;
        // The server answering after the client spoke ends one turn.
        if (!from_client && client_spoke_last) ++turns_;
        client_spoke_last = from_client;
        (from_client ? up : down).held.push_back({Clock::now() + delay_, std::string(buffer, static_cast<std::size_t>(n))});
      }
    }
  }

  std::string server_socket_;
  std::chrono::microseconds delay_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<long long> turns_{0};
  std::thread thread_;
};

}  // namespace bench
