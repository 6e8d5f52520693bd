// Object identifiers the system asks for, as dotted texts.
#pragma once

inline constexpr char kOidSysObjectId[] = "1.3.6.1.2.1.1.2.0";
inline constexpr char kOidSysName[] = "1.3.6.1.2.1.1.5.0";
// Private objects of the printer: device ID, firmware and controller firmware.
inline constexpr char kOidDeviceId[] = "1.3.6.1.4.1.26266.886.300.369.8531.1.1.0";
inline constexpr char kOidFwVersion[] = "1.3.6.1.4.1.26266.886.300.369.8531.1.2.1.0";
inline constexpr char kOidMcuVersion[] = "1.3.6.1.4.1.26266.886.300.369.8531.1.2.3.0";
