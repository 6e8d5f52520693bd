// Printer service resolution through the Avahi daemon (avahi-client over the
// system D-Bus), driven by a simple poll loop on the calling thread.
//
// One service resolver asked for addresses yields only the address of the
// mDNS transport its SRV record came in on, and then waits out the budget.
// So the service is resolved without addresses, only to learn its host name,
// and that host's A and AAAA records are browsed on every interface and
// transport; a record that arrives over both transports is listed once.
#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/defs.h>
#include <avahi-common/simple-watch.h>
#include <netinet/in.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "tool/platform/mdns.h"

namespace usbink::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kServiceType = "_printer._tcp";
constexpr const char* kServiceDomain = "local";
constexpr std::array<std::uint16_t, 2> kHostRecordTypes = {AVAHI_DNS_TYPE_A, AVAHI_DNS_TYPE_AAAA};

template <auto release>
struct Releaser {
  template <typename T>
  void operator()(T* object) const {
    release(object);
  }
};
template <typename T, auto release>
using Owned = std::unique_ptr<T, Releaser<release>>;

using SimplePoll = Owned<AvahiSimplePoll, avahi_simple_poll_free>;
using Client = Owned<AvahiClient, avahi_client_free>;
using ServiceResolver = Owned<AvahiServiceResolver, avahi_service_resolver_free>;
using RecordBrowser = Owned<AvahiRecordBrowser, avahi_record_browser_free>;

// The socket address of an A or AAAA record; port 0 and, for a link-local
// address, scope 0: callers use the address only and print it without zone.
// Built in zeroed storage, so equal addresses compare equal byte for byte.
std::optional<sockaddr_storage> recordAddress(std::uint16_t type, const void* rdata,
                                              std::size_t size) {
  sockaddr_storage storage{};
  if (type == AVAHI_DNS_TYPE_A && size == sizeof(in_addr)) {
    auto* in = reinterpret_cast<sockaddr_in*>(&storage);
    in->sin_family = AF_INET;
    std::memcpy(&in->sin_addr, rdata, size);
    return storage;
  }
  if (type == AVAHI_DNS_TYPE_AAAA && size == sizeof(in6_addr)) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
    in6->sin6_family = AF_INET6;
    std::memcpy(&in6->sin6_addr, rdata, size);
    return storage;
  }
  return std::nullopt;
}

// The loop's poll. Avahi's own restarts an interrupted poll with the whole
// timeout again, so a stream of caught signals could stretch the wait without
// end; here an interrupted poll is an empty pass, and the loop goes on with
// what is left of the budget.
int pollWithinBudget(pollfd* fds, unsigned int count, int timeout, void*) {
  const int ready = poll(fds, count, timeout);
  if (ready >= 0 || errno != EINTR) return ready;
  std::for_each(fds, fds + count, [](pollfd& fd) { fd.revents = 0; });
  return 0;
}

// One resolution and every Avahi object it holds. Members are released in
// reverse order: the lookups before the client, the client before its poll.
class Resolution {
 public:
  Resolution() = default;
  Resolution(const Resolution&) = delete;
  Resolution& operator=(const Resolution&) = delete;

  // Connects to the daemon and starts resolving; false when either fails.
  // Without AVAHI_CLIENT_NO_FAIL a missing daemon fails here at once.
  bool start(const std::string& instanceName) {
    m_poll.reset(avahi_simple_poll_new());
    if (!m_poll) return false;
    avahi_simple_poll_set_func(m_poll.get(), pollWithinBudget, nullptr);
    int error = 0;
    m_client.reset(avahi_client_new(avahi_simple_poll_get(m_poll.get()), AvahiClientFlags{},
                                    clientChanged, this, &error));
    if (!m_client) return false;
    m_service.reset(avahi_service_resolver_new(
        m_client.get(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, instanceName.c_str(), kServiceType,
        kServiceDomain, AVAHI_PROTO_UNSPEC, AVAHI_LOOKUP_NO_ADDRESS, serviceResolved, this));
    return m_service != nullptr;
  }

  // Runs the loop until enough addresses have arrived, the daemon is lost
  // or `deadline` has passed.
  void wait(Clock::time_point deadline) {
    while (!m_failed && m_addresses.size() < kEnoughServiceAddresses) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return;
      if (avahi_simple_poll_iterate(m_poll.get(), static_cast<int>(left.count())) != 0) return;
    }
  }

  std::vector<sockaddr_storage> takeAddresses() { return std::move(m_addresses); }

 private:
  static void clientChanged(AvahiClient*, AvahiClientState state, void* self) {
    if (state == AVAHI_CLIENT_FAILURE) static_cast<Resolution*>(self)->m_failed = true;
  }

  static void serviceResolved(AvahiServiceResolver*, AvahiIfIndex, AvahiProtocol,
                              AvahiResolverEvent event, const char*, const char*, const char*,
                              const char* hostName, const AvahiAddress*, std::uint16_t,
                              AvahiStringList*, AvahiLookupResultFlags, void* self) {
    if (event == AVAHI_RESOLVER_FOUND) static_cast<Resolution*>(self)->browseHost(hostName);
  }

  static void hostRecordFound(AvahiRecordBrowser*, AvahiIfIndex, AvahiProtocol,
                              AvahiBrowserEvent event, const char*, std::uint16_t,
                              std::uint16_t type, const void* rdata, std::size_t size,
                              AvahiLookupResultFlags, void* self) {
    if (event == AVAHI_BROWSER_NEW)
      static_cast<Resolution*>(self)->add(recordAddress(type, rdata, size));
  }

  // Browses the host's records once, for the first host name the service
  // names; a browser that cannot start ends the wait, as nothing can arrive.
  void browseHost(const char* hostName) {
    if (m_hostRecords.front()) return;
    for (std::size_t i = 0; i < kHostRecordTypes.size(); ++i) {
      m_hostRecords[i].reset(avahi_record_browser_new(
          m_client.get(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, hostName, AVAHI_DNS_CLASS_IN,
          kHostRecordTypes[i], AvahiLookupFlags{}, hostRecordFound, this));
      if (!m_hostRecords[i]) m_failed = true;
    }
  }

  void add(const std::optional<sockaddr_storage>& address) {
    const auto same = [&](const sockaddr_storage& known) {
      return std::memcmp(&known, &*address, sizeof known) == 0;
    };
    if (address && std::none_of(m_addresses.begin(), m_addresses.end(), same)) {
      m_addresses.push_back(*address);
    }
  }

  SimplePoll m_poll;
  Client m_client;
  ServiceResolver m_service;
  std::array<RecordBrowser, kHostRecordTypes.size()> m_hostRecords;
  bool m_failed = false;
  std::vector<sockaddr_storage> m_addresses;
};

}  // namespace

// The budget counts from the call, so connecting to the daemon is inside it.
// An empty name names no service instance: nothing to wait for.
std::vector<sockaddr_storage> resolvePrinterService(const std::string& instanceName) {
  if (instanceName.empty()) return {};
  const auto deadline = Clock::now() + kServiceWaitBudget;
  Resolution resolution;
  if (!resolution.start(instanceName)) return {};
  resolution.wait(deadline);
  return resolution.takeAddresses();
}

}  // namespace usbink::platform
