// The host's network interfaces and the IPv6 interface remembered by agent
// discovery for later IPv6 requests.
#pragma once

struct ifs_info {
  char ifr_name[16];  // NUL-padded interface name
  int ifscope_id;     // interface index, the IPv6 scope identifier
  ifs_info* next;
};

// Interface index of later IPv6 requests; 0 (or less) until a discovery sets it.
extern int scope_id;
// "%" followed by the name of the interface `scope_id` stands for.
inline constexpr int kIfsNameSize = 256;
extern char g_ifsName[kIfsNameSize];

// One node per interface with a nonzero index, in the system's order; null
// when there is none. Both arguments are ignored.
ifs_info* get_ifs_info(int, int);
// Index of the first node named `name`; 4 when there is none.
int find_ifscope_id(ifs_info* list, char* name);
// First node whose index is `scope`, or null.
ifs_info* find_ifname(ifs_info* list, int scope);
void free_ifs_info(ifs_info* list);
