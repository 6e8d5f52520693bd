// The host's interfaces with their indexes, and the interface remembered for
// later IPv6 requests. Agent discovery writes the latter when a printer
// first answers; everything else only reads it.
#include "usbink/interfaces.h"

#include <linux/if_packet.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "discovery/interface_addresses.h"

int scope_id = 0;
char g_ifsName[kIfsNameSize] = "%en0";

namespace {

// The interface index find_ifscope_id reports for a name it does not know.
constexpr int kUnknownInterfaceScope = 4;

// A zero-filled node for one interface. A name longer than the node's field
// (never on Linux, whose names have at most 15 characters) is cut so that
// the stored name keeps its NUL.
ifs_info* newNode(const char* name, int index) {
  auto* node = new (std::nothrow) ifs_info{};
  if (node == nullptr) return nullptr;
  std::strncpy(node->ifr_name, name, sizeof node->ifr_name - 1);
  node->ifscope_id = index;
  return node;
}

}  // namespace

// Linux's SIOCGIFCONF reports IPv4 addresses only and no link-level records,
// so the interfaces are enumerated with getifaddrs instead: its AF_PACKET
// entries, one per interface in index order, carry the interface index.
// Failures (enumeration, or memory for a node) print "ioctl error", the
// message callers know for a failed enumeration, and yield null; an empty
// list yields null without a message.
ifs_info* get_ifs_info(int, int) {
  const auto entries = usbink::discovery::interfaceAddresses();
  if (!entries) {
    std::fputs("ioctl error", stdout);
    return nullptr;
  }
  ifs_info* head = nullptr;
  ifs_info** tail = &head;
  for (const ifaddrs* e = entries->get(); e != nullptr; e = e->ifa_next) {
    if (e->ifa_addr == nullptr || e->ifa_addr->sa_family != AF_PACKET) continue;
    const int index = reinterpret_cast<const sockaddr_ll*>(e->ifa_addr)->sll_ifindex;
    if (index == 0) continue;
    ifs_info* node = newNode(e->ifa_name, index);
    if (node == nullptr) {
      free_ifs_info(head);
      std::fputs("ioctl error", stdout);
      return nullptr;
    }
    std::printf("ifr_name: %s, scope id: %d\n", node->ifr_name, node->ifscope_id);
    *tail = node;
    tail = &node->next;
  }
  return head;
}

// A null `name` matches no node.
int find_ifscope_id(ifs_info* list, char* name) {
  if (name == nullptr) return kUnknownInterfaceScope;
  for (const ifs_info* node = list; node != nullptr; node = node->next) {
    if (std::strncmp(node->ifr_name, name, sizeof node->ifr_name) == 0) return node->ifscope_id;
  }
  return kUnknownInterfaceScope;
}

ifs_info* find_ifname(ifs_info* list, int scope) {
  for (ifs_info* node = list; node != nullptr; node = node->next) {
    if (node->ifscope_id == scope) return node;
  }
  return nullptr;
}

void free_ifs_info(ifs_info* list) {
  while (list != nullptr) {
    delete std::exchange(list, list->next);
  }
}
