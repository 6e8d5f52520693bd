// The fixed USM user of every SNMPv3 exchange the system makes.
#pragma once

namespace usbink {

inline constexpr int kUsmUserNameLength = 8;
inline constexpr int kUsmPassPhraseLength = 20;

struct UsmCredentials {
  char userName[kUsmUserNameLength + 1];
  char authPassword[kUsmPassPhraseLength + 1];
  char privPassword[kUsmPassPhraseLength + 1];
};

// Builds the user name and the two pass phrases. They are kept masked in
// the program and unmasked only here, at run time.
UsmCredentials usmCredentials();

}  // namespace usbink
