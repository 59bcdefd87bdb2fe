#include "host/pinger.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace orba {
namespace {

// Tests send echoes to 127.0.0.1 only, and only where this machine lets
// them open an ICMP socket at all.
bool IcmpAllowed(int type) {
  const int fd = IcmpPinger::OpenIcmpSocket(type);
  if (fd < 0) return false;
  close(fd);
  return true;
}

TEST(IcmpPinger, LoopbackAnswers) {
  if (!IcmpAllowed(SOCK_DGRAM) && !IcmpAllowed(SOCK_RAW)) GTEST_SKIP() << "no ICMP socket allowed here";
  IcmpPinger pinger;
  EXPECT_EQ(pinger.PingHost("127.0.0.1"), kEchoAnswered);
  EXPECT_TRUE(pinger.IsHostReachable("127.0.0.1"));
  EXPECT_EQ(pinger.PermissionProblem(), "");
}

TEST(IcmpPinger, RawSocketWhenThePingSocketIsRefused) {
  if (!IcmpAllowed(SOCK_RAW)) GTEST_SKIP() << "no raw ICMP socket allowed here";
  std::vector<int> types;
  IcmpPinger pinger(std::chrono::milliseconds(1000), [&types](int type) {
    types.push_back(type);
    if (type == SOCK_DGRAM) {
      errno = EACCES;
      return -1;
    }
    return IcmpPinger::OpenIcmpSocket(type);
  });
  EXPECT_EQ(pinger.PingHost("127.0.0.1"), kEchoAnswered);
  EXPECT_EQ(types, (std::vector<int>{SOCK_DGRAM, SOCK_RAW}));
}

TEST(IcmpPinger, AddressesThatDoNotConvertSendNothing) {
  int sockets = 0;
  IcmpPinger pinger(std::chrono::milliseconds(1000), [&sockets](int) {
    ++sockets;
    errno = EACCES;
    return -1;
  });
  for (const char* address : {"10.0.0.300", "0.0.0.0", "", "PDA01", "255.255.255.255", "10.0.0.1x"}) {
    EXPECT_EQ(pinger.PingHost(address), kEchoNotSent) << address;
    EXPECT_FALSE(pinger.IsHostReachable(address)) << address;
  }
  EXPECT_EQ(sockets, 0);
  EXPECT_EQ(pinger.PermissionProblem(), "");
}

TEST(IcmpPinger, NoSocketAtAllSaysWhyAndHowToGrantIt) {
  bool allowed = false;
  IcmpPinger pinger(std::chrono::milliseconds(1000), [&allowed](int type) {
    if (allowed) return IcmpPinger::OpenIcmpSocket(type);
    errno = type == SOCK_DGRAM ? EACCES : EPERM;
    return -1;
  });
  EXPECT_EQ(pinger.PingHost("127.0.0.1"), kEchoNotSent);
  const std::string problem = pinger.PermissionProblem();
  EXPECT_NE(problem.find("net.ipv4.ping_group_range"), std::string::npos) << problem;
  EXPECT_NE(problem.find("CAP_NET_RAW"), std::string::npos) << problem;

  if (!IcmpAllowed(SOCK_DGRAM) && !IcmpAllowed(SOCK_RAW)) return;
  allowed = true;  // granted later: the problem is gone with the next echo
  EXPECT_EQ(pinger.PingHost("127.0.0.1"), kEchoAnswered);
  EXPECT_EQ(pinger.PermissionProblem(), "");
}

}  // namespace
}  // namespace orba
