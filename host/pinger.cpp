#include "host/pinger.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace orba {

namespace {

constexpr char kPayload[] = "hello";
constexpr std::size_t kPayloadSize = sizeof kPayload - 1;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

 private:
  int fd_;
};

std::uint16_t Checksum(const unsigned char* data, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < size; i += 2) sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
  if (size % 2 != 0) sum += static_cast<std::uint32_t>(data[size - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return htons(static_cast<std::uint16_t>(~sum));
}

// Identifiers and sequence numbers that tell one echo from another: raw
// sockets see every echo reply of the host, also those of parallel calls.
std::atomic<std::uint16_t> g_next_identifier{static_cast<std::uint16_t>(getpid() * 31)};
std::atomic<std::uint16_t> g_next_sequence{1};

std::string Describe(int error) { return error == 0 ? "?" : std::strerror(error); }

}  // namespace

int IcmpPinger::OpenIcmpSocket(int type) { return socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP); }

IcmpPinger::IcmpPinger(std::chrono::milliseconds timeout, SocketOpener open_socket)
    : timeout_(timeout), open_socket_(std::move(open_socket)) {}

std::string IcmpPinger::PermissionProblem() const {
  std::lock_guard lock(mutex_);
  return problem_;
}

int IcmpPinger::PingHost(const std::string& address) {
  in_addr target{};
  // The no-address value (255.255.255.255) and 0 are refused like text that
  // does not convert: nothing is sent.
  if (inet_aton(address.c_str(), &target) == 0 || target.s_addr == 0 || target.s_addr == INADDR_NONE) {
    return kEchoNotSent;
  }

  bool raw = false;
  int fd = open_socket_(SOCK_DGRAM);
  const int ping_socket_error = fd < 0 ? errno : 0;
  if (fd < 0) {
    raw = true;
    fd = open_socket_(SOCK_RAW);
  }
  if (fd < 0) {
    const int raw_socket_error = errno;
    std::lock_guard lock(mutex_);
    problem_ = "Sem permissão para enviar ICMP (socket de ping: " + Describe(ping_socket_error) +
               "; socket raw: " + Describe(raw_socket_error) +
               "): todos os PDAs aparecem desconectados. Para permitir, inclua um grupo do serviço em "
               "net.ipv4.ping_group_range (sysctl net.ipv4.ping_group_range=\"0 2147483647\") ou dê ao "
               "serviço CAP_NET_RAW (AmbientCapabilities=CAP_NET_RAW na unidade do systemd).";
    return kEchoNotSent;
  }
  {
    std::lock_guard lock(mutex_);
    problem_.clear();
  }
  FileDescriptor owner(fd);
  return Exchange(fd, raw, target.s_addr);
}

int IcmpPinger::Exchange(int fd, bool raw, unsigned int target) {
  const std::uint16_t identifier = g_next_identifier.fetch_add(1);
  const std::uint16_t sequence = g_next_sequence.fetch_add(1);

  unsigned char packet[sizeof(icmphdr) + kPayloadSize] = {};
  icmphdr header{};
  header.type = ICMP_ECHO;
  header.code = 0;
  header.un.echo.id = htons(identifier);  // a ping socket puts its own
  header.un.echo.sequence = htons(sequence);
  std::memcpy(packet, &header, sizeof header);
  std::memcpy(packet + sizeof header, kPayload, kPayloadSize);
  header.checksum = Checksum(packet, sizeof packet);
  std::memcpy(packet, &header, sizeof header);

  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = target;
  if (sendto(fd, packet, sizeof packet, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) !=
      static_cast<ssize_t>(sizeof packet)) {
    return kEchoNotSent;
  }

  const auto deadline = std::chrono::steady_clock::now() + timeout_;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return kEchoTimedOut;
    pollfd waiting{fd, POLLIN, 0};
    const int ready = poll(&waiting, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return kEchoTimedOut;

    unsigned char reply[1500];
    sockaddr_in from{};
    socklen_t from_size = sizeof from;
    const ssize_t size =
        recvfrom(fd, reply, sizeof reply, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &from_size);
    if (size < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return kEchoUnreachable;  // an ICMP error reported on the socket
    }
    if (from.sin_addr.s_addr != target) continue;
    const unsigned char* icmp = reply;
    std::size_t icmp_size = static_cast<std::size_t>(size);
    if (raw) {  // a raw socket hands over the IP header too
      if (icmp_size < sizeof(iphdr)) continue;
      const std::size_t header_size = static_cast<std::size_t>(reply[0] & 0x0F) * 4;
      if (icmp_size < header_size + sizeof(icmphdr)) continue;
      icmp += header_size;
      icmp_size -= header_size;
    }
    if (icmp_size < sizeof(icmphdr)) continue;
    icmphdr answer{};
    std::memcpy(&answer, icmp, sizeof answer);
    if (answer.type != ICMP_ECHOREPLY || ntohs(answer.un.echo.sequence) != sequence) continue;
    if (raw && ntohs(answer.un.echo.id) != identifier) continue;
    return kEchoAnswered;
  }
}

}  // namespace orba
