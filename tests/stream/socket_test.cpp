// CSocket against real TCP peers on loopback.
#include "usbink/socket.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "stream/tcp_peer.h"

namespace usbink::test {
namespace {

constexpr unsigned long kUntouched = 12345;

// Opens `s` and connects it to `listener`; returns the peer's end.
Fd connectTo(CSocket& s, Listener& listener) {
  EXPECT_EQ(s.Open(listener.address()->sa_family, SOCK_STREAM, IPPROTO_TCP), 0);
  EXPECT_EQ(s.Connect(listener.address(), listener.length()), 0);
  return listener.accept();
}

// More than the buffers hold, both ways; then the peer's end: a read gets the
// rest and EPIPE, a write an error rather than a SIGPIPE ending the binary.
TEST(CSocketTransfer, MovesExactlyTheRequestedBytesThenSeesThePeersEnd) {
  std::string bytes(8 << 20, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  Listener listener;
  CSocket s;
  Fd peer = connectTo(s, listener);

  auto drained = startInBackground([&] {
    std::string got(bytes.size(), '\0');
    got.resize(std::max<ssize_t>(0, ::recv(peer.get(), got.data(), got.size(), MSG_WAITALL)));
    return got;
  });
  unsigned long done = kUntouched;
  EXPECT_EQ(s.Write(bytes.data(), bytes.size(), &done), 0);
  EXPECT_EQ(done, bytes.size());
  EXPECT_TRUE(awaitResult(drained, "the peer's receive") == bytes);

  auto fed = startInBackground([&] { return sendAll(peer.get(), bytes + "12345"); });
  std::string in(bytes.size(), '\0');
  EXPECT_EQ(s.Read(in.data(), in.size(), &done), 0);
  EXPECT_EQ(done, bytes.size());
  EXPECT_TRUE(awaitResult(fed, "the peer's send"));
  EXPECT_TRUE(in == bytes);

  peer.reset();
  EXPECT_EQ(s.Read(in.data(), 100, &done), EPIPE);
  EXPECT_EQ(in.substr(0, done), "12345");
  int result = 0;  // the first writes may be taken before the peer's reset arrives
  for (int attempt = 0; attempt < 20 && result == 0; ++attempt) {
    result = s.Write(bytes.data(), 1 << 20, nullptr);
  }
  EXPECT_TRUE(result == EPIPE || result == ECONNRESET) << result;
}

// A connect never answered (the one accept-queue place taken) and a read with
// nothing to read end with ECANCELED on Cancel from another thread, on
// destruction or on a new Open; a cancel wins over a ready socket until the
// next Open, and an EINTR left over from elsewhere does not restart a wait.
TEST(CSocketCancel, EndsABlockedConnectOrRead) {
  for (const bool connecting : {true, false}) {
    for (const std::string how : {"Cancel", "destruction", "Open"}) {
      SCOPED_TRACE(how + (connecting ? " connect" : " read"));
      Listener listener("127.0.0.1", connecting ? 0 : 16);
      auto s = std::make_unique<CSocket>();
      Fd peer(::socket(AF_INET, SOCK_STREAM, 0));
      if (connecting) {
        ASSERT_EQ(::connect(peer.get(), listener.address(), listener.length()), 0);
        ASSERT_TRUE(waitFor([&] { return listener.hasPending(); }));
        ASSERT_EQ(s->Open(AF_INET, SOCK_STREAM, IPPROTO_TCP), 0);
      } else {
        peer = connectTo(*s, listener);
      }
      auto blocked = startInBackground([&listener, connecting, waiting = s.get()] {
        char in[10];
        unsigned long done = kUntouched;
        return connecting
                   ? std::make_pair(waiting->Connect(listener.address(), listener.length()), 0ul)
                   : std::make_pair(waiting->Read(in, sizeof in, &done), done);
      });
      ASSERT_TRUE(blockedInSelect());
      if (how == "destruction") {
        s.reset();
      } else {
        EXPECT_EQ(how == "Open" ? s->Open(AF_INET, SOCK_STREAM, IPPROTO_TCP) : s->Cancel(), 0);
      }
      EXPECT_EQ(awaitResult(blocked, "the woken call"), std::make_pair(ECANCELED, 0ul));
      EXPECT_TRUE(how == "destruction" || s->Valid());
      if (how != "Cancel" || connecting) continue;
      bool ready = false;
      char in[4];
      EXPECT_EQ(s->Select(SELECTMODE_BOTH, &ready), ECANCELED);
      EXPECT_EQ(s->Read(in, sizeof in, nullptr), ECANCELED);
      EXPECT_EQ(s->Cancel(), 0);
      peer = connectTo(*s, listener);
      errno = EINTR;
      EXPECT_EQ(s->Select(SELECTMODE_WRITE, &ready), 0);
      EXPECT_TRUE(ready);
      ASSERT_TRUE(sendAll(peer.get(), "abcd"));
      EXPECT_EQ(s->Read(in, sizeof in, nullptr), 0);
    }
  }
}

// Never opened or closed: -1 for everything, `done` untouched; open: a null
// address and an unknown wait mode are refused.
TEST(CSocketRefusals, ClosedObjectsNullAddressesAndUnknownModes) {
  Listener listener;
  CSocket never, closed;
  Fd peer = connectTo(closed, listener);
  closed.Close();
  char buffer[8] = {};
  bool ready = false;
  for (CSocket* s : {&never, &closed}) {
    unsigned long done = kUntouched;
    EXPECT_FALSE(s->Valid());
    EXPECT_EQ(s->Read(buffer, sizeof buffer, &done), -1);
    EXPECT_EQ(s->Write(buffer, sizeof buffer, &done), -1);
    EXPECT_EQ(done, kUntouched);
    EXPECT_EQ(s->Select(SELECTMODE_READ, &ready), -1);
    EXPECT_EQ(s->Connect(listener.address(), listener.length()), -1);
  }
  CSocket s;
  ASSERT_EQ(s.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP), 0);
  EXPECT_EQ(s.Connect(nullptr, listener.length()), -1);
  EXPECT_EQ(s.Select(static_cast<SOCKETSELECTMODE>(3), &ready), EINVAL);
}

// With every descriptor below FD_SETSIZE taken, Open fails cleanly, leaving
// nothing open, rather than let a wait write past the fd_set.
TEST(CSocketRefusals, DescriptorsThatSelectCannotWatch) {
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  rlimit raised{std::max<rlim_t>(limit.rlim_cur, FD_SETSIZE + 16), limit.rlim_max};
  if (::setrlimit(RLIMIT_NOFILE, &raised) != 0) GTEST_SKIP() << "descriptor limit too low";
  std::vector<Fd> taken;
  while (taken.empty() || taken.back().get() < FD_SETSIZE - 1) {
    ASSERT_GE(taken.emplace_back(::dup(0)).get(), 0);
  }
  CSocket s;
  EXPECT_EQ(s.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP), EMFILE);
  EXPECT_FALSE(s.Valid());
  EXPECT_EQ(Fd(::dup(0)).get(), FD_SETSIZE);
  taken.clear();
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace
}  // namespace usbink::test
