// The system log, message translation and standard error, as a Linux print
// tool uses them.
#pragma once

#include <string>

namespace usbink::platform {

// Text domain of the tool's translations.
inline constexpr char kTextDomain[] = "usbink";

// Selects the user's locale and binds the text domain to `localeDir`.
void initLocalization(const char* localeDir);
// The translation of `key`, or `key` itself when there is none.
std::string localized(const char* key);
// One line to syslog(3), facility LOG_LPR, priority LOG_ERR.
void logError(const char* message);
// Points standard error at /dev/null, inheritable on descriptor 2, also
// when descriptor 2 was closed at start; leaves it as it is when /dev/null
// cannot be opened.
void discardStandardError();

}  // namespace usbink::platform
