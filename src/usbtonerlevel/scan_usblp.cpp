// Printers bound to the Linux usblp driver, asked for their device ID
// through its /dev/usb/lp* character devices.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "usbtonerlevel/printer_scan.h"

// usblp's request for the cached device ID; the kernel header that defines
// it is not installed for user space. The size is part of the request.
#define LPIOC_GET_DEVICE_ID(len) _IOC(_IOC_READ, 'P', 1, len)

namespace usbink::usb {
namespace {

static_assert(kMaxDeviceIdReply < (1u << _IOC_SIZEBITS), "the reply size must fit the request");

constexpr std::string_view kDeviceDirectory = "/dev/usb";
constexpr std::string_view kDevicePrefix = "lp";
// sysfs describes each usblp device's interface, and the USB device above it.
constexpr std::string_view kSysfsClass = "/sys/class/usbmisc/";
constexpr std::string_view kInterfaceNumberFile = "/device/bInterfaceNumber";
constexpr std::string_view kSerialFile = "/device/../serial";
// sysfs attributes read here are one short line.
constexpr std::size_t kMaxAttributeSize = 256;
constexpr int kHexBase = 16;

class FileDescriptor {
 public:
  explicit FileDescriptor(const std::string& path) {
    do {
      m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (m_fd < 0 && errno == EINTR);
  }
  ~FileDescriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  bool valid() const { return m_fd >= 0; }
  int get() const { return m_fd; }

 private:
  int m_fd = -1;
};

// The first line of a sysfs attribute, "" when it cannot be read.
std::string readAttribute(const std::string& path) {
  const FileDescriptor file(path);
  if (!file.valid()) return {};
  std::array<char, kMaxAttributeSize> buffer{};
  ssize_t n;
  do {
    n = ::read(file.get(), buffer.data(), buffer.size());
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return {};
  const std::string_view text(buffer.data(), static_cast<std::size_t>(n));
  return std::string(text.substr(0, text.find('\n')));
}

// sysfs writes bInterfaceNumber as two hexadecimal digits.
std::optional<int> readInterfaceNumber(const std::string& name) {
  return parseInterfaceNumber(
      readAttribute(std::string(kSysfsClass) + name + std::string(kInterfaceNumberFile)), kHexBase);
}

// The driver answers from the ID it read from the printer (with its own
// 5-second limit on the transfer) and copies at most the size we give; it
// does not say how much it copied, so the buffer starts zeroed and the
// text ends at the first NUL.
std::optional<std::string> readDeviceId(const std::string& path) {
  const FileDescriptor device(path);
  if (!device.valid()) return std::nullopt;
  std::array<std::uint8_t, kMaxDeviceIdReply> reply{};
  int r;
  do {
    r = ::ioctl(device.get(), LPIOC_GET_DEVICE_ID(reply.size()), reply.data());
  } while (r < 0 && errno == EINTR);
  if (r < 0) return std::nullopt;
  DeviceIdReply id = deviceIdFromReply(reply);
  if (id.error) return std::nullopt;
  return std::move(id.id);
}

}  // namespace

ScanResult scanWithUsblp(const PrinterVisitor& visit) {
  ScanResult result;
  // The error-code forms of the directory walk: a missing /dev/usb (no
  // usblp printer) ends the scan without an exception.
  std::error_code error;
  for (std::filesystem::directory_iterator it(kDeviceDirectory, error), end; !error && it != end;
       it.increment(error)) {
    const std::filesystem::path& path = it->path();
    const std::string name = path.filename().string();
    if (!name.starts_with(kDevicePrefix)) continue;
    std::optional<std::string> id = readDeviceId(path.string());
    if (!id) {
      ++result.unreadable;
      continue;
    }
    const UsbPrinter printer{
        std::move(*id), readAttribute(std::string(kSysfsClass) + name + std::string(kSerialFile)),
        readInterfaceNumber(name)};
    if (visit(printer)) {
      result.stopped = true;
      return result;
    }
  }
  return result;
}

}  // namespace usbink::usb
