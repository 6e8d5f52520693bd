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

std::string hex(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
  return text;
}

// Before any discovery the remembered interface is scope 0, logged as "%en0".
TEST(NetworkConnect, ReachesAListenerOverIpv4AndIpv6AndCarriesBytesUntilClosed) {
  ASSERT_EQ(scope_id, 0);
  ASSERT_STREQ(g_ifsName, "%en0");
  const struct {
    const char* server;
    const char* log;
  } cases[] = {
      {"127.0.0.1", "NetworkConnect server=127.0.0.1\n"},
      {"::1", "NetworkConnect server=::1\nNetworkConnectV6=::1%en0\nnRet = 0\nnReturn = 0\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server);
    Listener listener(c.server);
    CNetIO io;
    const Attempt a = connectLogged(io, c.server, listener.port());
    EXPECT_EQ(a.result, 0);
    EXPECT_EQ(a.log, c.log);
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
    EXPECT_EQ(receiveAll(peer.get()), "");
  }
}

TEST(NetworkConnect, PassesFailuresOnAsTheirCodes) {
  Listener nobody4("127.0.0.1", -1);
  Listener nobody6("::1", -1);
  const std::string refused = hex(ECONNREFUSED);
  const struct {
    const char* server;
    int port;
    int result;
    std::string log;
  } cases[] = {
      {"127.0.0.1", nobody4.port(), ECONNREFUSED, "NetworkConnect server=127.0.0.1\n"},
      {"::1", nobody6.port(), ECONNREFUSED,
       "NetworkConnect server=::1\nNetworkConnectV6=::1%en0\nnRet = " + refused +
           "\nnReturn = " + refused + "\n"},
      {"printer.invalid", 9100, -1,
       "NetworkConnect server=printer.invalid\nerror in getaddrinfo: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server);
    CNetIO io;
    const Attempt a = connectLogged(io, c.server, c.port);
    EXPECT_EQ(a.result, c.result);
    EXPECT_EQ(a.log.substr(0, c.log.size()), c.log);
  }
}

// "%en0" takes 4 of the 256 bytes and the NUL one more.
TEST(NetworkConnectV6, RefusesAScopedTextThatDoesNotFitItsBuffer) {
  CNetIO io;
  const std::string fits(251, 'a');
  const Attempt longest = connectLogged(io, fits, 9100, true);
  EXPECT_EQ(longest.result, -1);
  EXPECT_EQ(longest.log, "NetworkConnectV6=" + fits + "%en0\n");

  const Attempt tooLong = connectLogged(io, fits + "a", 9100, true);
  EXPECT_EQ(tooLong.result, -1);
  EXPECT_EQ(tooLong.log, "");
}

// A text inet_pton rejects would leave the address unspecified, which the
// system takes as this host: nothing may connect there.
TEST(NetworkConnectV6, DoesNotConnectForATextThatIsNoIpv6Address) {
  Listener anyAddress("::");
  for (const char* server : {"printer", "127.0.0.1", "", "fe80::1%lo"}) {
    SCOPED_TRACE(server);
    CNetIO io;
    EXPECT_EQ(connectLogged(io, server, anyAddress.port(), true).result, -1);
    EXPECT_FALSE(anyAddress.hasPending());
  }
  // Through the resolver, a scoped literal takes the IPv6 path too.
  CNetIO io;
  const Attempt viaResolver = connectLogged(io, "fe80::1%lo", anyAddress.port());
  EXPECT_EQ(viaResolver.result, -1);
  EXPECT_NE(viaResolver.log.find("NetworkConnectV6=fe80::1%lo%en0\n"), std::string::npos);
  EXPECT_FALSE(anyAddress.hasPending());
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
