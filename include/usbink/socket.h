// A non-blocking stream socket whose waits another thread can cancel.
#pragma once

#include <sys/socket.h>

#include <condition_variable>
#include <mutex>

// The byte that Cancel writes into the wake-up pair.
inline constexpr unsigned char kCancelMessage = 0x00;

enum SOCKETSELECTMODE {
  SELECTMODE_BOTH = 0,   // watch for reading and writing, report nothing
  SELECTMODE_READ = 1,   // watch for reading, report readable
  SELECTMODE_WRITE = 2,  // watch for writing, report writable
};

// Owns one stream socket and a connected pair of local sockets; every wait
// selects on both, so Cancel (the one call meant for a second thread) ends it.
// Destruction and Open from a second thread also wake the waiter, and wait
// until it has left the object before closing the descriptors it waits on.
// Close belongs to the thread that uses the socket.
class CSocket {
 public:
  CSocket();
  ~CSocket();
  CSocket(const CSocket&) = delete;
  CSocket& operator=(const CSocket&) = delete;

  // True when all three descriptors are open.
  bool Valid();
  // Opens a fresh non-blocking socket (waking and closing an old one).
  // Returns 0 or an errno value.
  int Open(int domain, int type, int protocol);
  // Connects to `address` (read, `length` bytes), waiting for completion.
  // Returns 0, -1 for a null address or a closed object, ECANCELED, or an
  // errno value.
  int Connect(const sockaddr* address, int length);
  // Waits until the socket is ready for `mode` or the wait is cancelled;
  // `ready` (written, may be null) tells readiness in modes 1 and 2.
  // Returns 0, -1 when not open, ECANCELED, EINVAL for an unknown mode, or
  // select's errno.
  int Select(SOCKETSELECTMODE mode, bool* ready);
  // Transfer exactly `length` bytes; `done` (written, may be null) receives
  // the count moved. Return 0, -1 when not open, EPIPE when the peer ended
  // the stream, ECANCELED, or an errno value.
  int Read(void* buffer, unsigned long length, unsigned long* done);
  int Write(const void* buffer, unsigned long length, unsigned long* done);
  // Closes all descriptors without waking a waiter.
  void Close();
  // Wakes the current or next wait of the object. Returns 0 or an errno value.
  int Cancel();

 private:
  class Operation;

  // These three expect m_lock to be held.
  bool IsOpen() const;
  int Wake();
  int CreateAll(int domain, int type, int protocol);
  // Closes every descriptor; once a wake has been signalled it first waits
  // until no operation uses them. `lock` holds m_lock.
  void CloseAll(std::unique_lock<std::mutex>& lock);

  int m_socket;
  int m_wakeWrite;
  int m_wakeRead;
  int m_maxFd;
  bool m_cancelled;
  // Guards the fields above against Cancel, Open and destruction from a
  // second thread; never held during a wait.
  std::mutex m_lock;
  // Signalled when m_users drops to 0.
  std::condition_variable m_idle;
  // Operations (Connect, Select, Read, Write) in progress.
  int m_users;
};
