// The look-ups over the interface table, on lists built by hand (the table
// as the system lists it is tested in a network namespace of known
// interfaces, with the discovery).
#include "usbink/interfaces.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace usbink::test {
namespace {

struct ListDeleter {
  void operator()(ifs_info* list) const { free_ifs_info(list); }
};
using InterfaceList = std::unique_ptr<ifs_info, ListDeleter>;

// A list of (index, name) nodes built by hand, in the table's own allocation.
InterfaceList handMade(const std::vector<std::pair<int, std::string>>& entries) {
  ifs_info* head = nullptr;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    auto* node = new ifs_info{};
    it->second.copy(node->ifr_name, sizeof node->ifr_name - 1);
    node->ifscope_id = it->first;
    node->next = head;
    head = node;
  }
  return InterfaceList(head);
}

// Names compare exactly: neither a prefix nor a longer name matches; a name
// not found gives index 4, an index not found (or an empty list) no node.
TEST(InterfaceTable, LookUpsTakeTheEarliestExactMatch) {
  const auto list = handMade({{2, "eth0"}, {3, "eth1"}, {5, "eth0"}, {3, "dup"}});
  char eth0[] = "eth0", eth1[] = "eth1", eth[] = "eth", eth00[] = "eth00";
  EXPECT_EQ(find_ifscope_id(list.get(), eth0), 2);
  EXPECT_EQ(find_ifscope_id(list.get(), eth1), 3);
  EXPECT_STREQ(find_ifname(list.get(), 3)->ifr_name, "eth1");
  EXPECT_STREQ(find_ifname(list.get(), 5)->ifr_name, "eth0");
  EXPECT_EQ(find_ifscope_id(list.get(), eth), 4);
  EXPECT_EQ(find_ifscope_id(list.get(), eth00), 4);
  EXPECT_EQ(find_ifname(list.get(), 4), nullptr);

  EXPECT_EQ(find_ifscope_id(nullptr, eth0), 4);
  EXPECT_EQ(find_ifscope_id(list.get(), nullptr), 4);
  EXPECT_EQ(find_ifname(nullptr, 1), nullptr);
  free_ifs_info(nullptr);
}

}  // namespace
}  // namespace usbink::test
