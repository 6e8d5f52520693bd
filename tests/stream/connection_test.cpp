// CNetIO's TCP connection operations against loopback listeners, in a
// private network with a private hosts file, so that no lookup leaves it.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "stream/tcp_peer.h"
#include "support/netns.h"
#include "usbink/interfaces.h"
#include "usbink/netio.h"

namespace usbink::test {
namespace {

struct Attempt {
  int result;
  std::string log;
};

Attempt connectLogged(CNetIO& io, std::string server, int port, bool v6Only = false) {
  ::testing::internal::CaptureStderr();
  const int result =
      v6Only ? io.NetworkConnectV6(server.data(), port) : io.NetworkConnect(server.data(), port);
  return {result, ::testing::internal::GetCapturedStderr()};
}

// Before any discovery the remembered interface is scope 0, logged as "%en0".
TEST(NetworkConnect, CarriesBytesOverIpv4AndIpv6OrPassesTheFailureOn) {
  ASSERT_EQ(scope_id, 0);
  ASSERT_STREQ(g_ifsName, "%en0");
  const std::string v6 = "NetworkConnect server=::1\nNetworkConnectV6=::1%en0\n";
  const struct {
    const char* server;
    const char* listener;
    bool listening;
    int result;
    std::string log;  // its start
  } cases[] = {
      {"127.0.0.1", "127.0.0.1", true, 0, "NetworkConnect server=127.0.0.1\n"},
      {"::1", "::1", true, 0, v6 + "nRet = 0\nnReturn = 0\n"},
      {"127.0.0.1", "127.0.0.1", false, ECONNREFUSED, "NetworkConnect server=127.0.0.1\n"},
      {"::1", "::1", false, ECONNREFUSED, v6 + "nRet = 6f\nnReturn = 6f\n"},
      {"printer.invalid", "127.0.0.1", true, -1,
       "NetworkConnect server=printer.invalid\nerror in getaddrinfo: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.server) + (c.listening ? "" : " refusing"));
    Listener listener(c.listener, c.listening ? 16 : -1);
    CNetIO io;
    const Attempt a = connectLogged(io, c.server, listener.port());
    EXPECT_EQ(a.result, c.result);
    EXPECT_EQ(a.log.substr(0, c.log.size()), c.log);
    if (a.result != 0) continue;

    Fd peer = listener.accept();
    char hello[] = "hello";
    EXPECT_EQ(io.NetworkWrite(0, hello, 5), 5u);
    char got[5] = {};
    ASSERT_EQ(::recv(peer.get(), got, sizeof got, MSG_WAITALL), 5);
    EXPECT_EQ(std::string(got, 5), "hello");
    ASSERT_TRUE(sendAll(peer.get(), "world"));
    EXPECT_EQ(io.NetworkRead(0, got, sizeof got), 5u);
    EXPECT_EQ(std::string(got, 5), "world");

    io.NetworkClose(0);
    EXPECT_EQ(io.NetworkRead(0, got, sizeof got), 0u);
    EXPECT_EQ(io.NetworkWrite(0, hello, 5), 0u);
    EXPECT_EQ(::recv(peer.get(), got, sizeof got, 0), 0);
  }
}

// None of these texts is an IPv6 address inet_pton takes, which would leave
// the address unspecified, and the system takes that as this host: nothing
// may connect there. A scoped text that does not fit its 256 bytes ("%en0"
// takes 4 and the NUL one more) is refused before its log line.
TEST(NetworkConnectV6, ConnectsNowhereForATextThatIsNoIpv6AddressOrDoesNotFit) {
  Listener anyAddress("::");
  const std::string fits(251, 'a');
  const struct {
    std::string server;
    bool v6Only;
    std::string log;
  } cases[] = {
      {fits, true, "NetworkConnectV6=" + fits + "%en0\n"},
      {fits + "a", true, ""},
      {"printer", true, "NetworkConnectV6=printer%en0\n"},
      {"127.0.0.1", true, "NetworkConnectV6=127.0.0.1%en0\n"},
      {"", true, "NetworkConnectV6=%en0\n"},
      {"fe80::1%lo", true, "NetworkConnectV6=fe80::1%lo%en0\n"},
      // Through the resolver, a scoped literal takes the IPv6 path too.
      {"fe80::1%lo", false,
       "NetworkConnect server=fe80::1%lo\nNetworkConnectV6=fe80::1%lo%en0\nnReturn = ffffffff\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server.substr(0, 20));
    CNetIO io;
    const Attempt a = connectLogged(io, c.server, anyAddress.port(), c.v6Only);
    EXPECT_EQ(a.result, -1);
    EXPECT_EQ(a.log, c.log);
    EXPECT_FALSE(anyAddress.hasPending());
  }
}

class PrivateHosts : public ::testing::Environment {
 public:
  void SetUp() override { usePrivateHosts("127.0.0.1 localhost\n::1 localhost\n"); }
};

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  ::testing::AddGlobalTestEnvironment(new usbink::test::PrivateHosts);
  return usbink::test::runInPrivateNetwork(argc, argv);
}
