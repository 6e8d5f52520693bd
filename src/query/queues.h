// `usbink-query queues`: the toner level of every queue of the CUPS
// scheduler, each read by a usbink child process.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace usbink::query {

// How many usbink processes read at once by default. The reads mostly wait
// on the network (a queue whose printer answers only SNMPv3 takes about
// 2 s), so a whole office fits in one or two rounds; a usbink process
// needs a few MB, so the whole run stays small.
inline constexpr int kDefaultJobs = 32;
inline constexpr int kMaxJobs = 256;

// How long one usbink process may run. usbink's own waits are bounded (the
// scheduler 3 s + 3 s, a DNS-SD resolution 3 s, about 2 s per address
// for SNMP v1 and SNMPv3, the USB status program 30 s), so only a process
// that hangs reaches this; it is killed, with whatever it started.
inline constexpr std::chrono::seconds kReadTimeLimit{45};

struct QueueEntry {
  std::string name;
  std::string deviceUri;  // "" when the scheduler gave none
  bool exists = true;     // false: a named queue the scheduler does not have
};

// The queues of the scheduler the usual libcups configuration names
// (CUPS_SERVER, client.conf, the default socket), by one IPP
// CUPS-Get-Printers request with the tool's bounded waits; classes are left
// out. With `named` non-empty, exactly those queues in that order, each
// marked when the scheduler does not have it. Nothing when no scheduler
// answers in time.
std::optional<std::vector<QueueEntry>> listQueues(const std::vector<std::string>& named);

// The scheduler libcups talks to, for messages.
std::string schedulerName();

// "usb", "dns-sd" or "network", from the device URI's scheme; "" without
// a URI.
std::string connectionKind(const std::string& deviceUri);

struct QueueResult {
  std::optional<int> level;  // the toner level in percent, when read
  std::string reason;        // why there is none ("" when read)
};

// Why a queue has no level, as shown in every output format.
inline constexpr char kReasonNoScheduler[] = "no scheduler";
inline constexpr char kReasonNoSuchQueue[] = "no such queue";
inline constexpr char kReasonNoDeviceUri[] = "no device URI";
inline constexpr char kReasonNoAddress[] = "no address";
inline constexpr char kReasonNoAnswer[] = "no answer";
inline constexpr char kReasonUsbProgramFailed[] = "USB program failed";
inline constexpr char kReasonTimedOut[] = "read timed out";
inline constexpr char kReasonNotStarted[] = "usbink not started";
inline constexpr char kReasonChildDied[] = "usbink died";
inline constexpr char kReasonNoReport[] = "no report";

// What one usbink run means for its queue: the level from its report on
// exit status 0, else the reason its exit status stands for on that kind
// of queue. `signal` is the signal that ended it, or 0.
QueueResult interpretRun(const std::string& kind, int exitStatus, int signal,
                         const std::string& report);

// Runs `program QUEUE` for every queue in `queues` that exists and has a
// device URI, at most `jobs` at once, each in its own process group,
// standard input and error on /dev/null. `done(index, result)` is called as
// each ends (in the order they end); `progress(finished, total)` after
// each. Returns when every run has ended or been killed at `timeLimit`.
void readQueues(const std::string& program, const std::vector<QueueEntry>& queues, int jobs,
                std::chrono::milliseconds timeLimit,
                const std::function<void(std::size_t, const QueueResult&)>& done);

}  // namespace usbink::query
