// CNetIO's TCP connection operations against loopback listeners, in a
// private network with a private hosts file, so that no lookup leaves it.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <utility>

#include "stream/tcp_peer.h"
#include "support/netns.h"
#include "usbink/interfaces.h"
#include "usbink/netio.h"

namespace usbink::test {
namespace {

// The result of a connect and what it logged.
std::pair<int, std::string> connectLogged(CNetIO& io, std::string server, int port,
                                          bool v6Only = false) {
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
    std::string server;
    int result;       // ECONNREFUSED: nothing listens
    std::string log;  // its start
  } cases[] = {
      {"127.0.0.1", 0, "NetworkConnect server=127.0.0.1\n"},
      {"::1", 0, v6 + "nRet = 0\nnReturn = 0\n"},
      {"127.0.0.1", ECONNREFUSED, "NetworkConnect server=127.0.0.1\n"},
      {"::1", ECONNREFUSED, v6 + "nRet = 6f\nnReturn = 6f\n"},
      {"printer.invalid", -1, "NetworkConnect server=printer.invalid\nerror in getaddrinfo: "},
      {"printer4", -1, "NetworkConnect server=printer4\n"},  // a name, not an address
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server + " " + std::to_string(c.result));
    Listener listener(c.server == "::1" ? "::1" : "127.0.0.1", c.result == ECONNREFUSED ? -1 : 16);
    CNetIO io;
    const auto [result, log] = connectLogged(io, c.server, listener.port());
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(log.substr(0, c.log.size()), c.log);
    if (result != 0) continue;

    Fd peer = listener.accept();
    char bytes[6] = "hello";
    EXPECT_EQ(io.NetworkWrite(0, bytes, 5), 5u);
    ASSERT_EQ(::recv(peer.get(), bytes, 5, MSG_WAITALL), 5);
    EXPECT_STREQ(bytes, "hello");
    ASSERT_TRUE(sendAll(peer.get(), "world"));
    EXPECT_EQ(io.NetworkRead(0, bytes, 5), 5u);
    EXPECT_STREQ(bytes, "world");
    io.NetworkClose(0);
    EXPECT_EQ(io.NetworkRead(0, bytes, 5), 0u);
    EXPECT_EQ(io.NetworkWrite(0, bytes, 5), 0u);
    EXPECT_EQ(::recv(peer.get(), bytes, 5, 0), 0);  // the stream ended
  }
}

// No text here is an IPv6 address inet_pton takes; an unspecified address
// would reach this host. A scoped text over its 256 bytes ("%en0" and the
// NUL included) is refused before its log line.
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
    EXPECT_EQ(connectLogged(io, c.server, anyAddress.port(), c.v6Only), std::make_pair(-1, c.log));
    EXPECT_FALSE(anyAddress.hasPending());
  }
}

class PrivateHosts : public ::testing::Environment {
 public:
  void SetUp() override { usePrivateHosts("127.0.0.1 localhost printer4\n::1 localhost\n"); }
};

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  ::testing::AddGlobalTestEnvironment(new usbink::test::PrivateHosts);
  return usbink::test::runInPrivateNetwork(argc, argv);
}
