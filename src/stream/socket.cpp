// CSocket: a non-blocking stream socket whose every wait also watches a
// wake-up pair, so that another thread can end the wait by writing one byte.
#include "usbink/socket.h"

#include <fcntl.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// The result of every operation on a closed object.
constexpr int kNotOpen = -1;

// The descriptors one operation works on, copied when it starts.
struct Descriptors {
  int socket;
  int wakeRead;
  int maxFd;
};

bool isMode(SOCKETSELECTMODE mode) {
  return mode == SELECTMODE_BOTH || mode == SELECTMODE_READ || mode == SELECTMODE_WRITE;
}

void fillSets(const Descriptors& d, SOCKETSELECTMODE mode, fd_set* readSet, fd_set* writeSet) {
  FD_ZERO(readSet);
  FD_ZERO(writeSet);
  FD_SET(d.wakeRead, readSet);
  if (mode != SELECTMODE_WRITE) FD_SET(d.socket, readSet);
  if (mode != SELECTMODE_READ) FD_SET(d.socket, writeSet);
}

// Waits without a time-out until the socket is ready for `mode` or the
// wake-up pair holds the cancel byte. Only the copied descriptors are used,
// so a waiter woken by the destructor does not touch the object again.
int waitReady(const Descriptors& d, SOCKETSELECTMODE mode, bool* ready) {
  if (!isMode(mode)) return EINVAL;
  fd_set readSet;
  fd_set writeSet;
  int n;
  do {
    fillSets(d, mode, &readSet, &writeSet);
    n = ::select(d.maxFd + 1, &readSet, &writeSet, nullptr, nullptr);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno;
  // The cancel byte is never read back: it wins over a ready socket.
  if (FD_ISSET(d.wakeRead, &readSet)) return ECANCELED;
  if (ready != nullptr && mode == SELECTMODE_READ) *ready = FD_ISSET(d.socket, &readSet);
  if (ready != nullptr && mode == SELECTMODE_WRITE) *ready = FD_ISSET(d.socket, &writeSet);
  return 0;
}

// Moves `length` bytes with `step(offset, count)` (one non-blocking read or
// send), waiting in `mode` whenever the socket would block.
template <typename Step>
int transferAll(const Descriptors& d, unsigned long length, unsigned long* done,
                SOCKETSELECTMODE mode, Step step) {
  unsigned long moved = 0;
  int result = 0;
  while (result == 0 && moved < length) {
    ssize_t n;
    do {
      n = step(moved, length - moved);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
      moved += static_cast<unsigned long>(n);
    } else if (n == 0) {
      result = EPIPE;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      result = waitReady(d, mode, nullptr);
    } else {
      result = errno;
    }
  }
  if (done != nullptr) *done = moved;
  return result;
}

void closeIfOpen(int* fd) {
  if (*fd != -1) ::close(*fd);
  *fd = -1;
}

}  // namespace

// Marks an operation in progress for its lifetime, so that Open and the
// destructor do not close the descriptors under it, and copies the
// descriptors it may use.
class CSocket::Operation {
 public:
  explicit Operation(CSocket& owner) : m_owner(owner) {
    std::lock_guard lock(owner.m_lock);
    ++owner.m_users;
    m_open = owner.IsOpen();
    m_descriptors = {owner.m_socket, owner.m_wakeRead, owner.m_maxFd};
  }
  ~Operation() {
    std::lock_guard lock(m_owner.m_lock);
    if (--m_owner.m_users == 0) m_owner.m_idle.notify_all();
  }
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  bool open() const { return m_open; }
  const Descriptors& descriptors() const { return m_descriptors; }

 private:
  CSocket& m_owner;
  bool m_open;
  Descriptors m_descriptors;
};

CSocket::CSocket()
    : m_socket(-1), m_wakeWrite(-1), m_wakeRead(-1), m_maxFd(-1), m_cancelled(false), m_users(0) {}

CSocket::~CSocket() {
  std::unique_lock lock(m_lock);
  if (IsOpen()) Wake();
  CloseAll(lock);
}

bool CSocket::Valid() {
  std::lock_guard lock(m_lock);
  return IsOpen();
}

bool CSocket::IsOpen() const {
  return m_socket != -1 && m_wakeWrite != -1 && m_wakeRead != -1 && m_socket <= m_maxFd &&
         m_wakeWrite <= m_maxFd && m_wakeRead <= m_maxFd;
}

int CSocket::Open(int domain, int type, int protocol) {
  std::unique_lock lock(m_lock);
  // A thread still waiting on the old socket wakes up before it is closed.
  if (IsOpen()) Wake();
  CloseAll(lock);
  const int error = CreateAll(domain, type, protocol);
  if (error != 0) CloseAll(lock);
  return error;
}

int CSocket::CreateAll(int domain, int type, int protocol) {
  m_socket = ::socket(domain, type, protocol);
  if (m_socket == -1) return errno;
  if (::fcntl(m_socket, F_SETFL, O_NONBLOCK) == -1) return errno;
  // The pair is internal to this object: no child process inherits it.
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == -1) return errno;
  m_wakeWrite = pair[0];
  m_wakeRead = pair[1];
  m_maxFd = std::max({m_socket, m_wakeWrite, m_wakeRead});
  // Every wait puts these descriptors in an fd_set, which holds only
  // FD_SETSIZE of them; a larger one is refused here, as a process out of
  // usable descriptors, instead of writing past the set.
  if (m_maxFd >= FD_SETSIZE) return EMFILE;
  return 0;
}

void CSocket::CloseAll(std::unique_lock<std::mutex>& lock) {
  // With the cancel byte in the pair, every operation still running ends
  // soon; its descriptors are closed only after it has left, so that its
  // select never watches a closed or reused descriptor. Without a signalled
  // wake (Close does not wake) nothing is waited for.
  if (m_cancelled) m_idle.wait(lock, [this] { return m_users == 0; });
  closeIfOpen(&m_socket);
  closeIfOpen(&m_wakeWrite);
  closeIfOpen(&m_wakeRead);
  m_cancelled = false;
}

void CSocket::Close() {
  std::unique_lock lock(m_lock);
  CloseAll(lock);
}

int CSocket::Cancel() {
  std::lock_guard lock(m_lock);
  return Wake();
}

int CSocket::Wake() {
  if (m_cancelled) return 0;
  ssize_t n;
  do {
    n = ::send(m_wakeWrite, &kCancelMessage, sizeof kCancelMessage, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno;
  m_cancelled = true;
  return 0;
}

int CSocket::Select(SOCKETSELECTMODE mode, bool* ready) {
  const Operation op(*this);
  if (!op.open()) return kNotOpen;
  return waitReady(op.descriptors(), mode, ready);
}

int CSocket::Connect(const sockaddr* address, int length) {
  if (address == nullptr) return kNotOpen;
  const Operation op(*this);
  if (!op.open()) return kNotOpen;
  const Descriptors& d = op.descriptors();
  if (::connect(d.socket, address, static_cast<socklen_t>(length)) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  if (const int waited = waitReady(d, SELECTMODE_BOTH, nullptr); waited != 0) return waited;
  socklen_t noAddress = 0;
  if (::getpeername(d.socket, nullptr, &noAddress) == 0) return 0;
  if (errno != ENOTCONN) return errno;
  int pending = 0;
  socklen_t size = sizeof pending;
  if (::getsockopt(d.socket, SOL_SOCKET, SO_ERROR, &pending, &size) == -1) return errno;
  // Not connected and no error pending: report that, never success.
  return pending != 0 ? pending : ENOTCONN;
}

int CSocket::Read(void* buffer, unsigned long length, unsigned long* done) {
  const Operation op(*this);
  if (!op.open()) return kNotOpen;
  const int fd = op.descriptors().socket;
  auto* bytes = static_cast<unsigned char*>(buffer);
  return transferAll(
      op.descriptors(), length, done, SELECTMODE_READ,
      [&](unsigned long at, unsigned long count) { return ::read(fd, bytes + at, count); });
}

// send with MSG_NOSIGNAL rather than write: a peer that has gone away yields
// EPIPE instead of a SIGPIPE that would end the host application.
int CSocket::Write(const void* buffer, unsigned long length, unsigned long* done) {
  const Operation op(*this);
  if (!op.open()) return kNotOpen;
  const int fd = op.descriptors().socket;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  return transferAll(op.descriptors(), length, done, SELECTMODE_WRITE,
                     [&](unsigned long at, unsigned long count) {
                       return ::send(fd, bytes + at, count, MSG_NOSIGNAL);
                     });
}
