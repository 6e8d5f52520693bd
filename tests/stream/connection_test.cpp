// CNetIO's TCP connections to loopback listeners; private network and hosts file.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "stream/tcp_peer.h"
#include "support/netns.h"
#include "usbink/netio.h"

namespace usbink::test {
namespace {

// A host name is refused before the open connection is replaced: it neither
// ends that connection nor reaches the listener its name resolves to.
TEST(NetworkConnect, CarriesBytesOverIpv4AndIpv6OrPassesTheFailureOn) {
  const struct {
    std::string server;
    int result;  // ECONNREFUSED: nothing listens
  } cases[] = {
      {"127.0.0.1", 0},        {"::1", 0}, {"127.0.0.1", ECONNREFUSED}, {"::1", ECONNREFUSED},
      {"printer.invalid", -1},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.server + " " + std::to_string(c.result));
    Listener listener(c.server == "::1" ? "::1" : "127.0.0.1", c.result == ECONNREFUSED ? -1 : 16);
    CNetIO io;
    EXPECT_EQ(io.NetworkConnect(c.server.data(), listener.port()), c.result);
    if (c.result != 0) continue;
    Fd peer = listener.accept();
    std::string name = "printer4";
    EXPECT_EQ(io.NetworkConnect(name.data(), listener.port()), -1);
    EXPECT_FALSE(listener.hasPending());
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

// No text here is an IPv6 address (an unspecified one would reach this host);
// a scoped text over 256 bytes ("%en0", the interface before any discovery,
// and NUL included) is refused unlogged.
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
      {"127.0.0.1", true, "NetworkConnectV6=127.0.0.1%en0\n"},
      {"", true, "NetworkConnectV6=%en0\n"},
      // Through the resolver, a scoped literal takes the IPv6 path too.
      {"fe80::1%lo", false,
       "NetworkConnect server=fe80::1%lo\nNetworkConnectV6=fe80::1%lo%en0\nnReturn = ffffffff\n"},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.server.substr(0, 20));
    CNetIO io;
    ::testing::internal::CaptureStderr();
    const int port = anyAddress.port();
    EXPECT_EQ(c.v6Only ? io.NetworkConnectV6(c.server.data(), port)
                       : io.NetworkConnect(c.server.data(), port),
              -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.log);
    EXPECT_FALSE(anyAddress.hasPending());
  }
}

}  // namespace
}  // namespace usbink::test

int main(int argc, char** argv) {
  usbink::test::usePrivateHosts("127.0.0.1 localhost printer4\n::1 localhost\n");
  return usbink::test::runInPrivateNetwork(argc, argv);
}
