// Printer-class interfaces found and asked for their device ID through
// libusb-1.0.
#include <libusb.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "usbtonerlevel/printer_scan.h"

namespace usbink::usb {
namespace {

// The printer class's GET_DEVICE_ID request: class-specific, device to host,
// addressed to an interface.
constexpr std::uint8_t kGetDeviceIdRequestType = 0xA1;
constexpr std::uint8_t kGetDeviceIdRequest = 0;
constexpr unsigned int kTimeoutMs = static_cast<unsigned int>(kTransferTimeout.count());
static_assert(kMaxDeviceIdReply <= UINT16_MAX, "wLength is 16 bits");
// A string descriptor holds at most 126 UTF-16 characters.
constexpr std::size_t kMaxSerialLength = 127;

struct ContextDeleter {
  void operator()(libusb_context* c) const { libusb_exit(c); }
};
struct DeviceListDeleter {
  void operator()(libusb_device** list) const { libusb_free_device_list(list, 1); }
};
struct ConfigDeleter {
  void operator()(libusb_config_descriptor* c) const { libusb_free_config_descriptor(c); }
};
struct HandleDeleter {
  void operator()(libusb_device_handle* h) const { libusb_close(h); }
};
using Context = std::unique_ptr<libusb_context, ContextDeleter>;
using DeviceList = std::unique_ptr<libusb_device*, DeviceListDeleter>;
using Config = std::unique_ptr<libusb_config_descriptor, ConfigDeleter>;
using Handle = std::unique_ptr<libusb_device_handle, HandleDeleter>;

// One printer-class interface of a device: where to send GET_DEVICE_ID.
struct PrinterInterface {
  std::uint8_t configIndex;
  std::uint8_t number;
  std::uint8_t alternateSetting;
};

// An interface claimed for us, its kernel driver (usblp) detached for the
// time of the claim and attached again when the claim ends.
class InterfaceClaim {
 public:
  InterfaceClaim(libusb_device_handle* handle, int number) : m_handle(handle), m_number(number) {
    if (libusb_kernel_driver_active(handle, number) == 1) {
      m_detached = libusb_detach_kernel_driver(handle, number) == LIBUSB_SUCCESS;
    }
    m_claimed = libusb_claim_interface(handle, number) == LIBUSB_SUCCESS;
  }
  ~InterfaceClaim() {
    if (m_claimed) libusb_release_interface(m_handle, m_number);
    if (m_detached) libusb_attach_kernel_driver(m_handle, m_number);
  }
  InterfaceClaim(const InterfaceClaim&) = delete;
  InterfaceClaim& operator=(const InterfaceClaim&) = delete;

  bool claimed() const { return m_claimed; }

 private:
  libusb_device_handle* m_handle;
  int m_number;
  bool m_detached = false;
  bool m_claimed = false;
};

// The first printer-class alternate setting of each interface, in every
// configuration of the device.
std::vector<PrinterInterface> printerInterfaces(libusb_device* device,
                                                const libusb_device_descriptor& descriptor) {
  std::vector<PrinterInterface> found;
  for (std::uint8_t c = 0; c < descriptor.bNumConfigurations; ++c) {
    libusb_config_descriptor* raw = nullptr;
    if (libusb_get_config_descriptor(device, c, &raw) != LIBUSB_SUCCESS) continue;
    const Config config(raw);
    for (const libusb_interface& interface : std::span(config->interface, config->bNumInterfaces)) {
      for (const libusb_interface_descriptor& setting :
           std::span(interface.altsetting, static_cast<std::size_t>(interface.num_altsetting))) {
        if (setting.bInterfaceClass != LIBUSB_CLASS_PRINTER) continue;
        found.push_back({c, setting.bInterfaceNumber, setting.bAlternateSetting});
        break;
      }
    }
  }
  return found;
}

int requestDeviceId(libusb_device_handle* handle, const PrinterInterface& where,
                    std::span<std::uint8_t> reply) {
  const auto index = static_cast<std::uint16_t>((where.number << 8) | where.alternateSetting);
  return libusb_control_transfer(handle, kGetDeviceIdRequestType, kGetDeviceIdRequest,
                                 where.configIndex, index, reply.data(),
                                 static_cast<std::uint16_t>(reply.size()), kTimeoutMs);
}

// The device ID of one interface. Linux lets anyone ask a printer interface
// for its ID without claiming it, even while usblp holds it; elsewhere, or
// on an older kernel, the request fails and is made once more with the
// interface claimed. A time-out or a vanished device is not worth a second
// wait.
std::optional<std::string> readDeviceId(libusb_device_handle* handle,
                                        const PrinterInterface& where) {
  std::array<std::uint8_t, kMaxDeviceIdReply> reply{};
  int n = requestDeviceId(handle, where, reply);
  if (n < 0 && n != LIBUSB_ERROR_TIMEOUT && n != LIBUSB_ERROR_NO_DEVICE) {
    const InterfaceClaim claim(handle, where.number);
    if (claim.claimed()) n = requestDeviceId(handle, where, reply);
  }
  if (n < 0) return std::nullopt;
  DeviceIdReply id = deviceIdFromReply(std::span(reply.data(), static_cast<std::size_t>(n)));
  if (id.error) return std::nullopt;
  return std::move(id.id);
}

// The iSerialNumber string; libusb limits this request to one second.
std::string readSerial(libusb_device_handle* handle, std::uint8_t index) {
  if (index == 0) return {};
  std::array<unsigned char, kMaxSerialLength + 1> text{};
  const int n = libusb_get_string_descriptor_ascii(handle, index, text.data(), kMaxSerialLength);
  return n > 0 ? std::string(text.begin(), text.begin() + n) : std::string();
}

}  // namespace

ScanResult scanWithLibusb(bool needSerial, const PrinterVisitor& visit) {
  ScanResult result;
  libusb_context* rawContext = nullptr;
  // Without usbfs (a container, no permission) libusb sees no devices; the
  // usblp scan may still find the printer.
  if (libusb_init(&rawContext) != LIBUSB_SUCCESS) return result;
  const Context context(rawContext);
  libusb_set_option(rawContext, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_NONE);

  libusb_device** rawList = nullptr;
  const ssize_t count = libusb_get_device_list(rawContext, &rawList);
  if (count < 0) return result;
  const DeviceList list(rawList);

  for (libusb_device* device : std::span(rawList, static_cast<std::size_t>(count))) {
    libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) continue;
    const std::vector<PrinterInterface> interfaces = printerInterfaces(device, descriptor);
    if (interfaces.empty()) continue;

    libusb_device_handle* rawHandle = nullptr;
    if (libusb_open(device, &rawHandle) != LIBUSB_SUCCESS) {
      result.unreadable += static_cast<int>(interfaces.size());
      continue;
    }
    const Handle handle(rawHandle);
    std::optional<std::string> serial;
    for (const PrinterInterface& where : interfaces) {
      std::optional<std::string> id = readDeviceId(handle.get(), where);
      if (!id) {
        ++result.unreadable;
        continue;
      }
      UsbPrinter printer{std::move(*id), {}, where.number};
      if (needSerial && !serial && !deviceIdSerial(parseDeviceId(printer.deviceId))) {
        serial = readSerial(handle.get(), descriptor.iSerialNumber);
      }
      printer.usbSerial = serial.value_or(std::string());
      if (visit(printer)) {
        result.stopped = true;
        return result;
      }
    }
  }
  return result;
}

}  // namespace usbink::usb
