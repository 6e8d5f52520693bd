#include "query/queues.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <list>
#include <memory>

#include "tool/platform/cups_queue.h"

extern char** environ;

namespace usbink::query {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kPrinterNameAttribute[] = "printer-name";
constexpr char kDeviceUriAttribute[] = "device-uri";
constexpr char kLevelKey[] = "<key>prtMarkerSuppliesLevel</key><integer>";
// usbink's exit statuses: 0 report written, 1 network queue without an
// address, 255 every other failure.
constexpr int kUsbinkReported = 0;
constexpr int kUsbinkNoAddress = 1;
constexpr int kUsbinkFailed = 255;
// The longest wait in the loop that watches the children: an ended child
// whose output a left-over grandchild still holds open is seen this late.
constexpr int kWatchMillis = 10;
constexpr std::size_t kReportMax = 64 * 1024;

struct HttpClose {
  void operator()(http_t* http) const { httpClose(http); }
};
struct IppDelete {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};

int giveUp(http_t*, void*) { return 0; }

}  // namespace

std::optional<std::vector<QueueEntry>> listQueues(const std::vector<std::string>& named) {
  std::unique_ptr<http_t, HttpClose> http(
      httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                   platform::kSchedulerConnectMillis, nullptr));
  if (!http) return std::nullopt;
  httpSetTimeout(http.get(), platform::kSchedulerReplySeconds, giveUp, nullptr);

  ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  const char* attributes[] = {kPrinterNameAttribute, kDeviceUriAttribute};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr,
                attributes);
  // Printers only: a class has no device of its own.
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_ENUM, "printer-type", 0);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_ENUM, "printer-type-mask", CUPS_PRINTER_CLASS);
  std::unique_ptr<ipp_t, IppDelete> response(cupsDoRequest(http.get(), request, "/"));
  // A scheduler without any queue answers "not found"; that is an empty
  // list, not a missing scheduler.
  if (!response) return std::nullopt;
  const ipp_status_t status = cupsLastError();
  if (status > IPP_STATUS_OK_CONFLICTING && status != IPP_STATUS_ERROR_NOT_FOUND) {
    return std::nullopt;
  }

  std::vector<QueueEntry> all;
  QueueEntry current;
  bool inPrinter = false;
  for (ipp_attribute_t* a = ippFirstAttribute(response.get()); a != nullptr;
       a = ippNextAttribute(response.get())) {
    const char* attributeName = ippGetName(a);
    if (attributeName == nullptr) {  // separator between two printers
      if (inPrinter && !current.name.empty()) all.push_back(current);
      current = {};
      inPrinter = false;
      continue;
    }
    if (ippGetGroupTag(a) != IPP_TAG_PRINTER) continue;
    inPrinter = true;
    const char* text = ippGetString(a, 0, nullptr);
    if (text == nullptr) continue;
    if (std::strcmp(attributeName, kPrinterNameAttribute) == 0) current.name = text;
    if (std::strcmp(attributeName, kDeviceUriAttribute) == 0) current.deviceUri = text;
  }
  if (inPrinter && !current.name.empty()) all.push_back(current);
  if (named.empty()) return all;

  // Queue names are compared without regard to case, as the scheduler does.
  std::vector<QueueEntry> chosen;
  for (const auto& name : named) {
    const auto found = std::find_if(all.begin(), all.end(), [&](const QueueEntry& q) {
      return strcasecmp(q.name.c_str(), name.c_str()) == 0;
    });
    chosen.push_back(found != all.end() ? *found : QueueEntry{name, "", false});
  }
  return chosen;
}

std::string schedulerName() { return cupsServer(); }

std::string connectionKind(const std::string& deviceUri) {
  const auto colon = deviceUri.find(':');
  if (deviceUri.empty() || colon == std::string::npos) return "";
  const std::string scheme = deviceUri.substr(0, colon);
  if (strcasecmp(scheme.c_str(), "usb") == 0) return "usb";
  if (strcasecmp(scheme.c_str(), "dnssd") == 0 || strcasecmp(scheme.c_str(), "mdns") == 0) {
    return "dns-sd";
  }
  return "network";
}

// usbink tells only "no address" (1) from every other failure (255). On a
// USB queue those are the status program's: it did not run, or printed no
// device ID with a status block. On a network queue they are the reads':
// no address answered SNMP v1 or SNMPv3 with a decodable status block; a
// printer that answers without a status block cannot be told from one that
// does not answer without asking it a second time, so both are "no answer".
QueueResult interpretRun(const std::string& kind, int exitStatus, int signal,
                         const std::string& report) {
  if (signal != 0) return {std::nullopt, kReasonChildDied};
  if (exitStatus == kUsbinkNoAddress) return {std::nullopt, kReasonNoAddress};
  if (exitStatus == kUsbinkFailed) {
    return {std::nullopt, kind == "usb" ? kReasonUsbProgramFailed : kReasonNoAnswer};
  }
  if (exitStatus != kUsbinkReported) return {std::nullopt, kReasonNoReport};
  const auto at = report.find(kLevelKey);
  if (at == std::string::npos) return {std::nullopt, kReasonNoReport};
  std::size_t i = at + sizeof kLevelKey - 1;
  int level = 0;
  const std::size_t first = i;
  // usbink writes byte AND 127; more than three digits is no report of it.
  while (i < report.size() && i - first < 3 && report[i] >= '0' && report[i] <= '9') {
    level = level * 10 + (report[i++] - '0');
  }
  if (i == first || report.compare(i, 10, "</integer>") != 0) return {std::nullopt, kReasonNoReport};
  return {level, ""};
}

namespace {

struct Run {
  std::size_t index;
  pid_t pid;
  int fd;
  std::string output;
  Clock::time_point deadline;
};

// Starts `program queue` in a process group of its own, its output into a
// non-blocking pipe. False when it cannot be started.
bool start(const std::string& program, const std::string& queue, Run* run) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  fcntl(ends[0], F_SETFL, O_NONBLOCK);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(queue.c_str()), nullptr};
  const int failed = posix_spawn(&run->pid, program.c_str(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  if (failed != 0) {
    close(ends[0]);
    return false;
  }
  run->fd = ends[0];
  return true;
}

void drain(Run* run) {
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(run->fd, chunk, sizeof chunk);
    if (n > 0) {
      // A report is a few hundred bytes; more is read and dropped.
      if (run->output.size() < kReportMax) run->output.append(chunk, n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return;
  }
}

}  // namespace

void readQueues(const std::string& program, const std::vector<QueueEntry>& queues, int jobs,
                std::chrono::milliseconds timeLimit,
                const std::function<void(std::size_t, const QueueResult&)>& done) {
  std::list<Run> running;
  std::size_t next = 0;
  while (next < queues.size() || !running.empty()) {
    while (next < queues.size() && static_cast<int>(running.size()) < jobs) {
      const std::size_t index = next++;
      const QueueEntry& q = queues[index];
      if (!q.exists) {
        done(index, {std::nullopt, kReasonNoSuchQueue});
      } else if (connectionKind(q.deviceUri).empty()) {
        done(index, {std::nullopt, kReasonNoDeviceUri});
      } else {
        Run run{index, -1, -1, {}, Clock::now() + timeLimit};
        if (start(program, q.name, &run)) {
          running.push_back(std::move(run));
        } else {
          done(index, {std::nullopt, kReasonNotStarted});
        }
      }
    }
    if (running.empty()) continue;

    std::vector<pollfd> watched;
    for (const auto& r : running) watched.push_back({r.fd, POLLIN, 0});
    poll(watched.data(), watched.size(), kWatchMillis);

    for (auto it = running.begin(); it != running.end();) {
      drain(&*it);
      int status = 0;
      pid_t ended;
      do {
        ended = waitpid(it->pid, &status, WNOHANG);
      } while (ended < 0 && errno == EINTR);
      if (ended < 0) {  // reaped elsewhere: its outcome is lost
        close(it->fd);
        done(it->index, {std::nullopt, kReasonChildDied});
        it = running.erase(it);
        continue;
      }
      if (ended == 0 && Clock::now() >= it->deadline) {
        // Not reaped yet, so its PID and group are still ours to kill.
        kill(-it->pid, SIGKILL);
        while (waitpid(it->pid, &status, 0) < 0 && errno == EINTR) {
        }
        close(it->fd);
        done(it->index, {std::nullopt, kReasonTimedOut});
        it = running.erase(it);
        continue;
      }
      if (ended == it->pid) {
        drain(&*it);
        close(it->fd);
        const int signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        done(it->index, interpretRun(connectionKind(queues[it->index].deviceUri), exitStatus,
                                     signal, it->output));
        it = running.erase(it);
        continue;
      }
      ++it;
    }
  }
}

}  // namespace usbink::query
