// The interface table: one node per interface as the system lists them, and
// the look-ups over it.
#include "usbink/interfaces.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"

namespace usbink::test {
namespace {

struct ListDeleter {
  void operator()(ifs_info* list) const { free_ifs_info(list); }
};
using InterfaceList = std::unique_ptr<ifs_info, ListDeleter>;

struct Interface {
  int index;
  std::string name;
  bool operator==(const Interface&) const = default;
};

// "3: eth0@if4: <...> ..." lines of `ip -o link`, in the order ip prints them.
std::vector<Interface> interfacesFromIpLink() {
  std::vector<Interface> out;
  std::istringstream lines(runChecked({"ip", "-o", "link"}).out);
  for (std::string line; std::getline(lines, line);) {
    const auto colon = line.find(": ");
    const auto nameEnd = line.find_first_of(":@", colon + 2);
    out.push_back({std::stoi(line.substr(0, colon)), line.substr(colon + 2, nameEnd - colon - 2)});
  }
  return out;
}

std::vector<Interface> interfacesOf(const ifs_info* list) {
  std::vector<Interface> out;
  for (; list != nullptr; list = list->next) out.push_back({list->ifscope_id, list->ifr_name});
  return out;
}

// A list built by hand, in the table's own allocation, from `entries`.
InterfaceList handMade(const std::vector<Interface>& entries) {
  ifs_info* head = nullptr;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    auto* node = new ifs_info{};
    it->name.copy(node->ifr_name, sizeof node->ifr_name - 1);
    node->ifscope_id = it->index;
    node->next = head;
    head = node;
  }
  return InterfaceList(head);
}

TEST(InterfaceTable, HoldsEveryInterfaceAsIpLinkShowsIt) {
  testing::internal::CaptureStdout();
  const InterfaceList list(get_ifs_info(0, 0));
  const std::string printed = testing::internal::GetCapturedStdout();

  const auto expected = interfacesFromIpLink();
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(interfacesOf(list.get()), expected);
  std::string lines;
  for (const auto& i : expected) {
    lines += "ifr_name: " + i.name + ", scope id: " + std::to_string(i.index) + "\n";
  }
  EXPECT_EQ(printed, lines);
}

TEST(InterfaceTable, LookUpsTakeTheEarliestMatch) {
  const auto list = handMade({{2, "eth0"}, {3, "eth1"}, {5, "eth0"}, {3, "dup"}});
  char eth0[] = "eth0", eth1[] = "eth1", eth[] = "eth", eth00[] = "eth00";
  EXPECT_EQ(find_ifscope_id(list.get(), eth0), 2);
  EXPECT_EQ(find_ifscope_id(list.get(), eth1), 3);
  ASSERT_NE(find_ifname(list.get(), 3), nullptr);
  EXPECT_STREQ(find_ifname(list.get(), 3)->ifr_name, "eth1");
  EXPECT_STREQ(find_ifname(list.get(), 5)->ifr_name, "eth0");
  // Names compare exactly: neither a prefix nor a longer name matches.
  EXPECT_EQ(find_ifscope_id(list.get(), eth), 4);
  EXPECT_EQ(find_ifscope_id(list.get(), eth00), 4);
  EXPECT_EQ(find_ifname(list.get(), 4), nullptr);
}

TEST(InterfaceTable, EmptyListFindsNothing) {
  char name[] = "lo";
  EXPECT_EQ(find_ifscope_id(nullptr, name), 4);
  EXPECT_EQ(find_ifscope_id(handMade({{1, "lo"}}).get(), nullptr), 4);
  EXPECT_EQ(find_ifname(nullptr, 1), nullptr);
  free_ifs_info(nullptr);
}

}  // namespace
}  // namespace usbink::test
