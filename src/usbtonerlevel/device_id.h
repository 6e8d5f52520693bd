// IEEE 1284 device-ID strings as a USB printer sends them: the reply with its
// length prefix, the KEY:value; fields, and the manufacturer, model and
// serial number that CUPS names the printer by.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace usbink::usb {

// Largest device-ID reply read from a printer, length prefix included. The
// tool reads at most 4095 characters of our output, so a longer ID would be
// of no use to it.
inline constexpr std::size_t kMaxDeviceIdReply = 4096;

// Why a device-ID reply was refused.
enum class ReplyError {
  kNoPrefix,         // fewer than the 2 bytes of the length prefix arrived
  kLengthTooShort,   // the prefix counts itself, so a value below 2 is impossible
  kLengthBeyondData  // the prefix claims more bytes than arrived
};

struct DeviceIdReply {
  std::string id;  // the text after the prefix, empty when `error` is set
  std::optional<ReplyError> error;
};

// The device-ID text of a GET_DEVICE_ID reply (`reply`, read): the bytes
// after the 2-byte big-endian length prefix, up to the length it gives and
// before the first NUL, if any.
DeviceIdReply deviceIdFromReply(std::span<const std::uint8_t> reply);

struct DeviceIdField {
  std::string key;
  std::string value;
};

// The fields of a device-ID string (`id`, read), in order: "KEY:value"
// pairs separated by ';', the last one with or without its ';'.
std::vector<DeviceIdField> parseDeviceId(std::string_view id);

// The value of the first field whose key is one of `keys` (read), tried in
// the order given; keys compare without regard to case. Empty values count
// as absent.
std::optional<std::string> findField(const std::vector<DeviceIdField>& fields,
                                     std::initializer_list<std::string_view> keys);

// The serial number a device ID carries (SERIALNUMBER, SERN or SN).
std::optional<std::string> deviceIdSerial(const std::vector<DeviceIdField>& fields);

struct MakeAndModel {
  std::string make;
  std::string model;
};

// The manufacturer and model CUPS puts in a usb:// device URI for these
// fields (`fields`, read).
MakeAndModel cupsMakeAndModel(const std::vector<DeviceIdField>& fields);

// ASCII comparison without regard to case.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace usbink::usb
