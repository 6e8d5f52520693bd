// The CUPS scheduler asked directly over IPP, and the URI rules of the
// print system. The tool makes one plain request on the scheduler's local
// socket; libcups would bring TLS, Kerberos and Avahi into every run, which
// costs about 10 ms and 5 MiB before the first request is written. Without
// TLS, a scheduler that insists on encryption (HTTP 426) gives no URI.
#include "tool/platform/cups_queue.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <pwd.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <utility>

#include "tool/platform/ipp_message.h"

namespace usbink::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kDefaultDomainSocket[] = "/run/cups/cups.sock";
constexpr char kDefaultServerRoot[] = "/etc/cups";
constexpr char kDefaultServer[] = "localhost";
constexpr char kDefaultIppPort[] = "631";
constexpr char kLocalHost[] = "localhost";
constexpr std::size_t kReadChunk = 4096;

class Fd {
 public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) close(m_fd);
  }
  Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    std::swap(m_fd, other.m_fd);
    return *this;
  }
  int get() const { return m_fd; }

 private:
  int m_fd;
};

std::string trimmed(std::string text) {
  const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
  text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
  text.erase(std::find_if_not(text.rbegin(), text.rend(), blank).base(), text.end());
  return text;
}

// The ServerName a client.conf names, or "".
std::string serverNameIn(const std::string& path) {
  std::ifstream file(path);
  constexpr std::string_view kKey = "ServerName";
  for (std::string line; std::getline(file, line);) {
    line = trimmed(line);
    if (line.size() > kKey.size() && strncasecmp(line.c_str(), kKey.data(), kKey.size()) == 0 &&
        std::isspace(static_cast<unsigned char>(line[kKey.size()]))) {
      return trimmed(line.substr(kKey.size()));
    }
  }
  return "";
}

// The scheduler as libcups clients find it: CUPS_SERVER, else the
// ServerName of ~/.cups/client.conf or of client.conf in CUPS_SERVERROOT,
// else the local socket when it exists, else localhost. A "/version=..."
// suffix (a protocol hint for libcups) is dropped.
std::string schedulerName() {
  std::string name;
  if (const char* env = std::getenv("CUPS_SERVER"); env != nullptr && *env != '\0') name = env;
  if (const char* home = std::getenv("HOME"); name.empty() && home != nullptr) {
    name = serverNameIn(std::string(home) + "/.cups/client.conf");
  }
  if (name.empty()) {
    const char* root = std::getenv("CUPS_SERVERROOT");
    name = serverNameIn(std::string(root != nullptr ? root : kDefaultServerRoot) + "/client.conf");
  }
  if (name.empty())
    name = access(kDefaultDomainSocket, F_OK) == 0 ? kDefaultDomainSocket : kDefaultServer;
  if (name.front() != '/') name = name.substr(0, name.find("/version="));
  return name;
}

std::string userName() {
  std::array<char, 1024> buffer;
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return "anonymous";
}

// Waits until `fd` is ready for `events`; false once `deadline` has passed.
// A caught signal shortens nothing and stretches nothing.
bool ready(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, static_cast<int>(left.count()));
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

Fd connectWithin(int family, const sockaddr* address, socklen_t length,
                 Clock::time_point deadline) {
  Fd fd(socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) return Fd();
  if (connect(fd.get(), address, length) == 0) return fd;
  if ((errno != EINPROGRESS && errno != EINTR) || !ready(fd.get(), POLLOUT, deadline)) return Fd();
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return Fd();
  return fd;
}

// Connects to the scheduler `name` (a socket path, "host", "host:port" or
// "[v6]:port") and gives the Host field the scheduler expects.
Fd connectToScheduler(const std::string& name, Clock::time_point deadline, std::string* hostField) {
  if (name.front() == '/') {
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    if (name.size() >= sizeof local.sun_path) return Fd();
    std::memcpy(local.sun_path, name.c_str(), name.size() + 1);
    *hostField = kLocalHost;
    return connectWithin(AF_UNIX, reinterpret_cast<const sockaddr*>(&local), sizeof local,
                         deadline);
  }
  const bool literal = name.front() == '[';
  const std::size_t hostEnd = literal ? name.find(']') : name.rfind(':');
  if (literal && hostEnd == std::string::npos) return Fd();
  const std::string host = literal ? name.substr(1, hostEnd - 1) : name.substr(0, hostEnd);
  const std::size_t colon = literal ? name.find(':', hostEnd) : hostEnd;
  const char* envPort = std::getenv("IPP_PORT");
  const std::string port = colon != std::string::npos ? name.substr(colon + 1)
                           : envPort != nullptr       ? envPort
                                                      : kDefaultIppPort;
  *hostField = name;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return Fd();
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, &freeaddrinfo);
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    Fd fd = connectWithin(a->ai_family, a->ai_addr, a->ai_addrlen, deadline);
    if (fd.get() >= 0) return fd;
  }
  return Fd();
}

bool sendAll(int fd, std::string_view data, Clock::time_point deadline) {
  while (!data.empty()) {
    const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n > 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno != EINTR && (errno != EAGAIN || !ready(fd, POLLOUT, deadline))) {
      return false;
    }
  }
  return true;
}

// Reads until the answer is whole, the scheduler closes, or the deadline.
std::optional<std::string> readAnswer(int fd, Clock::time_point deadline) {
  std::string answer;
  std::array<char, kReadChunk> chunk;
  for (;;) {
    if (!ready(fd, POLLIN, deadline)) return std::nullopt;
    const ssize_t n = recv(fd, chunk.data(), chunk.size(), 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) return std::nullopt;
    answer.append(chunk.data(), static_cast<std::size_t>(n));
    const AnswerState state = answerState(answer, n == 0);
    if (state == AnswerState::kComplete) return answer;
    if (state == AnswerState::kMalformed) return std::nullopt;
  }
}

// Decodes %XX escapes; false for a broken one.
bool percentDecode(std::string_view text, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *out += text[i];
      continue;
    }
    if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      return false;
    }
    *out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
    i += 2;
  }
  return out->find('\0') == std::string::npos;
}

}  // namespace

std::optional<std::string> deviceUriOfQueue(const std::string& queue) {
  const auto connectDeadline = Clock::now() + kSchedulerConnectBudget;
  std::string hostField;
  const Fd fd = connectToScheduler(schedulerName(), connectDeadline, &hostField);
  if (fd.get() < 0) return std::nullopt;
  const auto request = deviceUriRequest(queue, userName(), hostField);
  const auto replyDeadline = Clock::now() + kSchedulerReplyBudget;
  if (!request || !sendAll(fd.get(), *request, replyDeadline)) return std::nullopt;
  const auto answer = readAnswer(fd.get(), replyDeadline);
  return answer ? deviceUriOfAnswer(*answer) : std::nullopt;
}

// RFC 3986 as the print system reads device URIs: the scheme up to the
// first colon, then, after "//", the authority up to the next "/", "?" or
// "#", whose host follows any "user@" and stands before any ":port" (an
// IPv6 literal in brackets, which are dropped). The host is
// percent-decoded. A URI without a valid scheme, with a broken escape or a
// port that is not a number is refused.
std::optional<UriParts> splitUri(const std::string& uri) {
  const std::size_t colon = uri.find(':');
  if (colon == std::string::npos || colon == 0 ||
      !std::isalpha(static_cast<unsigned char>(uri[0]))) {
    return std::nullopt;
  }
  UriParts parts{uri.substr(0, colon), ""};
  const auto schemeChar = [](unsigned char c) {
    return std::isalnum(c) || c == '+' || c == '-' || c == '.';
  };
  if (!std::all_of(parts.scheme.begin(), parts.scheme.end(), schemeChar)) return std::nullopt;
  std::string_view rest = std::string_view(uri).substr(colon + 1);
  if (!rest.starts_with("//")) return parts;
  rest.remove_prefix(2);
  std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
  }
  std::string_view host = authority, port;
  if (authority.starts_with('[')) {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = authority.substr(1, close - 1);
    port = authority.substr(close + 1);
    if (!port.empty() && !port.starts_with(':')) return std::nullopt;
  } else if (const std::size_t c = authority.find(':'); c != std::string_view::npos) {
    host = authority.substr(0, c);
    port = authority.substr(c);
  }
  if (!port.empty()) port.remove_prefix(1);
  const auto digit = [](unsigned char c) { return std::isdigit(c) != 0; };
  if (!std::all_of(port.begin(), port.end(), digit)) return std::nullopt;
  if (!percentDecode(host, &parts.host)) return std::nullopt;
  return parts;
}

}  // namespace usbink::platform
