// CSocket against real TCP peers on loopback: transfers and the end of a
// stream, waits that a second thread cancels, and the refusals.
#include "usbink/socket.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "stream/tcp_peer.h"
#include "usbink/netio.h"

namespace usbink::test {
namespace {

constexpr unsigned long kUntouched = 12345;

// Opens `s` and connects it to `listener`; returns the peer's end.
Fd connectTo(CSocket& s, Listener& listener) {
  EXPECT_EQ(s.Open(listener.address()->sa_family, SOCK_STREAM, IPPROTO_TCP), 0);
  EXPECT_EQ(s.Connect(listener.address(), listener.length()), 0);
  return listener.accept();
}

std::string pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  return bytes;
}

TEST(CSocketTransfer, MovesExactlyTheRequestedBytesBothWays) {
  // More than the socket buffers hold, so both directions wait for the peer.
  const std::string bytes = pattern(8 << 20);
  Listener listener;
  CSocket s;
  Fd peer = connectTo(s, listener);

  auto drained = startInBackground([&] {
    std::string got(bytes.size(), '\0');
    const ssize_t n = ::recv(peer.get(), got.data(), got.size(), MSG_WAITALL);
    return n == static_cast<ssize_t>(got.size()) ? got : std::string();
  });
  unsigned long done = kUntouched;
  EXPECT_EQ(s.Write(bytes.data(), bytes.size(), &done), 0);
  EXPECT_EQ(done, bytes.size());
  EXPECT_TRUE(awaitResult(drained, "the peer's receive") == bytes);

  auto fed = startInBackground([&] { return sendAll(peer.get(), bytes); });
  std::string in(bytes.size(), '\0');
  EXPECT_EQ(s.Read(in.data(), in.size(), &done), 0);
  EXPECT_EQ(done, bytes.size());
  EXPECT_TRUE(awaitResult(fed, "the peer's send"));
  EXPECT_TRUE(in == bytes);
}

TEST(CSocketTransfer, PeerEndingTheStreamGivesEpipeForAReadAndNoSignalForAWrite) {
  Listener listener;
  CSocket s;
  Fd peer = connectTo(s, listener);
  ASSERT_TRUE(sendAll(peer.get(), "12345"));
  peer.reset();

  std::string in(100, '\0');
  unsigned long done = kUntouched;
  EXPECT_EQ(s.Read(in.data(), in.size(), &done), EPIPE);
  EXPECT_EQ(done, 5u);
  EXPECT_EQ(in.substr(0, 5), "12345");

  // The first bytes may still be accepted before the peer's reset arrives;
  // a SIGPIPE would end the test binary here.
  const std::string chunk = pattern(1 << 20);
  int result = 0;
  for (int attempt = 0; attempt < 20 && result == 0; ++attempt) {
    result = s.Write(chunk.data(), chunk.size(), nullptr);
  }
  EXPECT_TRUE(result == EPIPE || result == ECONNRESET) << result;
}

// A blocked connect ends with a cancel from another thread.
TEST(CSocketCancel, EndsABlockedConnect) {
  // A listener with a backlog of 0 keeps one connection in its accept
  // queue; with that place taken, the next handshake is not answered.
  Listener full("127.0.0.1", 0);
  Fd filler(::socket(AF_INET, SOCK_STREAM, 0));
  ASSERT_EQ(::connect(filler.get(), full.address(), full.length()), 0);
  ASSERT_TRUE(waitFor([&] { return full.hasPending(); }));
  CSocket connector;
  ASSERT_EQ(connector.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP), 0);
  auto connect =
      startInBackground([&] { return connector.Connect(full.address(), full.length()); });
  ASSERT_TRUE(blockedInSelect(connect.tid));
  EXPECT_EQ(connector.Cancel(), 0);
  EXPECT_EQ(awaitResult(connect, "the cancelled connect"), ECANCELED);
}

// A cancel wins over a ready socket and holds for every wait until the
// next Open.
TEST(CSocketCancel, CancelsEveryWaitUntilTheNextOpen) {
  Listener listener;
  CSocket s;
  Fd peer = connectTo(s, listener);
  EXPECT_EQ(s.Cancel(), 0);
  EXPECT_EQ(s.Cancel(), 0);
  bool ready = false;
  EXPECT_EQ(s.Select(SELECTMODE_BOTH, &ready), ECANCELED);
  EXPECT_EQ(s.Select(SELECTMODE_WRITE, &ready), ECANCELED);
  char in[4];
  EXPECT_EQ(s.Read(in, sizeof in, nullptr), ECANCELED);

  peer = connectTo(s, listener);
  EXPECT_EQ(s.Select(SELECTMODE_WRITE, &ready), 0);
  EXPECT_TRUE(ready);
  ASSERT_TRUE(sendAll(peer.get(), "abcd"));
  EXPECT_EQ(s.Read(in, sizeof in, nullptr), 0);
}

// A cancel, the destruction or a new Open wakes a thread blocked in a read,
// which leaves before the descriptors it waits on are closed.
TEST(CSocketCancel, EndsABlockedReadOnCancelDestructionOrNewOpen) {
  for (const char* wake : {"Cancel", "destruction", "Open"}) {
    SCOPED_TRACE(wake);
    const std::string how = wake;
    Listener listener;
    auto s = std::make_unique<CSocket>();
    Fd peer = connectTo(*s, listener);
    auto read = startInBackground([waiting = s.get()] {
      char in[10];
      unsigned long done = kUntouched;
      return std::make_pair(waiting->Read(in, sizeof in, &done), done);
    });
    ASSERT_TRUE(blockedInSelect(read.tid));
    if (how == "destruction") {
      s.reset();
    } else if (how == "Open") {
      EXPECT_EQ(s->Open(AF_INET, SOCK_STREAM, IPPROTO_TCP), 0);
    } else {
      EXPECT_EQ(s->Cancel(), 0);
    }
    EXPECT_EQ(awaitResult(read, "the woken read"), std::make_pair(ECANCELED, 0ul));
    EXPECT_TRUE(how == "destruction" || s->Valid());
  }
}

// A socket never opened or closed refuses everything with -1 and leaves
// `done` alone; an open one refuses a null address and an unknown wait mode.
TEST(CSocketRefusals, ClosedObjectsNullAddressesUnknownModesAndRefusedConnects) {
  Listener listener;
  Listener nobody("127.0.0.1", -1);
  CSocket never, closed;
  Fd peer = connectTo(closed, listener);
  closed.Close();
  for (CSocket* s : {&never, &closed}) {
    char buffer[8] = {};
    unsigned long done = kUntouched;
    bool ready = false;
    EXPECT_FALSE(s->Valid());
    EXPECT_EQ(s->Read(buffer, sizeof buffer, &done), -1);
    EXPECT_EQ(s->Write(buffer, sizeof buffer, &done), -1);
    EXPECT_EQ(done, kUntouched);
    EXPECT_EQ(s->Select(SELECTMODE_READ, &ready), -1);
    EXPECT_EQ(s->Connect(listener.address(), listener.length()), -1);
    EXPECT_EQ(s->Connect(nullptr, 0), -1);
  }

  CSocket s;
  ASSERT_EQ(s.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP), 0);
  EXPECT_EQ(s.Connect(nobody.address(), nobody.length()), ECONNREFUSED);
  EXPECT_EQ(s.Connect(nullptr, nobody.length()), -1);
  bool ready = false;
  EXPECT_EQ(s.Select(static_cast<SOCKETSELECTMODE>(3), &ready), EINVAL);

  CNetIO io;
  char buffer[8] = {};
  EXPECT_EQ(io.NetworkRead(0, buffer, sizeof buffer), 0u);
  EXPECT_EQ(io.NetworkWrite(0, buffer, sizeof buffer), 0u);
}

// An fd_set holds descriptors below FD_SETSIZE only; with every one of them
// taken, Open must fail cleanly rather than let a wait write past the set.
TEST(CSocketRefusals, DescriptorsThatSelectCannotWatch) {
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  const rlim_t needed = FD_SETSIZE + 16;
  if (limit.rlim_cur < needed) {
    if (limit.rlim_max < needed) GTEST_SKIP() << "descriptor limit too low";
    rlimit raised{needed, limit.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &raised), 0);
  }
  std::vector<Fd> taken;
  while (taken.empty() || taken.back().get() < FD_SETSIZE - 1) {
    taken.emplace_back(::dup(0));
    ASSERT_GE(taken.back().get(), 0);
  }

  CSocket s;
  EXPECT_EQ(s.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP), EMFILE);
  EXPECT_FALSE(s.Valid());
  // Nothing of the failed Open is left open.
  Fd next(::dup(0));
  EXPECT_EQ(next.get(), FD_SETSIZE);
  taken.clear();
  next.reset();
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace
}  // namespace usbink::test
