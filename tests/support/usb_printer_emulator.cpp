// usb-printer-emulator: USB printers emulated with umockdev for the tests
// and the demo (options in support/usb_printer.h). The devices follow what
// the kernel does where a program can tell: GET_DEVICE_ID to a printer
// interface needs no claim, a claim on an interface usblp holds fails with
// EBUSY, claims belong to the open file, and an unplugged device ends its
// transfers with ESHUTDOWN and refuses later ioctls with ENODEV.
#include <linux/usbdevice_fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/snmp_agents.h"
#include "support/usb_printer.h"

namespace {

using namespace usbink::test;
using Bytes = std::vector<std::uint8_t>;

constexpr int kBus = 1, kFirstDevnum = 2;
constexpr std::uint16_t kVendor = 0x1a2b, kProduct = 0x0001;
constexpr std::uint8_t kClassPrinter = 7, kClassHid = 3, kClassVendor = 0xff;
constexpr std::uint8_t kGetDeviceIdType = 0xA1, kGetDeviceId = 0;
constexpr std::uint8_t kGetDescriptorType = 0x80, kGetDescriptor = 6, kStringDescriptor = 3;
constexpr std::uint8_t kSerialIndex = 3;
// Bulk OUT 0x01 and IN 0x81, 512-byte packets.
constexpr std::uint8_t kBulkEndpoints[] = {7, 5, 0x01, 2, 0, 2, 0, 7, 5, 0x81, 2, 0, 2, 0};
constexpr std::size_t kSetupSize = 8;
constexpr const char* kUsblpDriver = "usblp";
constexpr const char* kPreload = "libumockdev-preload.so.0";

FILE* g_ioctlLog = nullptr;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "usb-printer-emulator: %s\n", what.c_str());
  std::exit(125);
}

__attribute__((format(printf, 1, 2))) std::string format(const char* pattern, ...) {
  char text[64];
  va_list args;
  va_start(args, pattern);
  std::vsnprintf(text, sizeof text, pattern, args);
  va_end(args);
  return text;
}

std::uint8_t u8(unsigned v) {
  return static_cast<std::uint8_t>(v);
}

void put16(Bytes& b, unsigned v) {
  b.insert(b.end(), {u8(v & 0xff), u8(v >> 8)});
}

// Copies `reply`, cut to `room`, to `data`; returns the length copied.
int answer(Bytes reply, std::uint8_t* data, std::size_t room) {
  if (reply.size() > room) reply.resize(room);
  std::memcpy(data, reply.data(), reply.size());
  return static_cast<int>(reply.size());
}

// Sets the option `key` of `p` to `value`; false when there is no such option.
bool setOption(EmulatedPrinter& p, const std::string& key, const std::string& value) {
  const std::map<std::string, std::string*> text{{"--make", &p.make},
                                                 {"--model", &p.model},
                                                 {"--serial", &p.serial},
                                                 {"--id", &p.deviceId},
                                                 {"--fault", &p.fault}};
  const std::map<std::string, int*> number{{"--interface", &p.interfaceNumber},
                                           {"--level", &p.level}};
  const std::map<std::string, bool*> flag{{"--printer-class", &p.printerClass},
                                          {"--usblp", &p.usblp},
                                          {"--devfs-unopenable", &p.devfsUnopenable}};
  if (text.contains(key))
    *text.at(key) = value;
  else if (number.contains(key))
    *number.at(key) = std::atoi(value.c_str());
  else if (flag.contains(key))
    *flag.at(key) = value == "1";
  return text.contains(key) || number.contains(key) || flag.contains(key);
}

// An URB owned by one open file: submitted, then reaped. `data` is our
// reference to the client's struct usbdevfs_urb.
struct Urb {
  UMockdevIoctlData* data;
  bool complete;
};

struct OpenFile {
  std::set<unsigned> claimed;
  std::deque<Urb> urbs;
};

struct Device {
  EmulatedPrinter p;
  std::string lpNode;
  bool driverBound = false;  // usblp holds the printer interface
  bool gone = false;
  std::map<UMockdevIoctlClient*, OpenFile> files;

  bool ours(unsigned number) const { return number == static_cast<unsigned>(p.interfaceNumber); }

  Bytes deviceIdReply() const {
    const std::string id =
        (p.deviceId.empty() ? "MFG:" + p.make + ";CMD:PCL;MDL:" + p.model + ";" : p.deviceId) +
        "STS:" + statusBlockWithToner(p.level) + ";";
    const std::size_t prefix = id.size() + 2 + (p.fault == kFaultPrefixBeyondData ? 10 : 0);
    Bytes reply(id.size() + 2);
    reply[0] = u8(prefix >> 8);
    reply[1] = u8(prefix & 0xff);
    std::memcpy(reply.data() + 2, id.data(), id.size());
    return reply;
  }

  // Device descriptor, then one configuration: a HID interface, or the
  // printer interface (two bulk endpoints) after vendor-specific ones.
  Bytes descriptors() const {
    Bytes d{18, 1, 0, 2, 0, 0, 0, 64};
    put16(d, kVendor);
    put16(d, kProduct);
    d.insert(d.end(), {0, 1, 1, 2, u8(p.serial.empty() ? 0 : kSerialIndex), 1});
    const int interfaces = p.printerClass ? p.interfaceNumber + 1 : 1;
    Bytes c{9, 2, 0, 0, u8(interfaces), 1, 0, 0xC0, 50};
    for (int i = 0; i < interfaces; ++i) {
      const bool printer = p.printerClass && i == p.interfaceNumber;
      const std::uint8_t cls = printer ? kClassPrinter : p.printerClass ? kClassVendor : kClassHid;
      // A printer interface: subclass 1, bidirectional protocol 2.
      c.insert(c.end(),
               {9, 4, u8(i), 0, u8(printer ? 2 : 0), cls, printer, u8(printer ? 2 : 0), 0});
      if (printer) c.insert(c.end(), std::begin(kBulkEndpoints), std::end(kBulkEndpoints));
    }
    c[2] = u8(c.size() & 0xff);
    c[3] = u8(c.size() >> 8);
    d.insert(d.end(), c.begin(), c.end());
    return d;
  }

  // The answer to a control transfer: the data stage's length, or a negative errno.
  int control(const std::uint8_t* setup, std::uint8_t* data, std::size_t room, OpenFile& file,
              std::string* what) {
    const unsigned value = setup[2] | (setup[3] << 8), index = setup[4] | (setup[5] << 8);
    if (setup[0] == kGetDeviceIdType && setup[1] == kGetDeviceId) {
      const unsigned number = index >> 8;
      *what = format("GET_DEVICE_ID config=%u interface=%u alt=%u", value, number, index & 0xff);
      if (!p.printerClass || !ours(number) || (index & 0xff) != 0 || value != 0 ||
          p.fault == kFaultStall || (p.fault == kFaultNeedsClaim && !file.claimed.contains(number)))
        return -EPIPE;
      if (p.fault == kFaultGone) {
        gone = true;
        return -ESHUTDOWN;
      }
      return answer(deviceIdReply(), data, room);
    }
    if (setup[0] == kGetDescriptorType && setup[1] == kGetDescriptor &&
        (value >> 8) == kStringDescriptor) {
      const unsigned i = value & 0xff;
      *what = format("GET_DESCRIPTOR string %u", i);
      const std::string text = i == 1              ? p.make
                               : i == 2            ? p.model
                               : i == kSerialIndex ? p.serial
                                                   : "";
      if (p.fault == kFaultSerialStall || (i != 0 && text.empty())) return -EPIPE;
      Bytes s{0, kStringDescriptor};
      if (i == 0) put16(s, 0x0409);  // US English only
      for (char c : text) put16(s, static_cast<unsigned char>(c));
      s[0] = u8(s.size());
      return answer(s, data, room);
    }
    *what = format("control %02x %02x", setup[0], setup[1]);
    return -EPIPE;
  }

  // SUBMITURB: control transfers are answered at once, unless the printer
  // never completes GET_DEVICE_ID; other transfers never complete.
  long submit(UMockdevIoctlData* arg, OpenFile& file, std::string* what) {
    auto* urb = reinterpret_cast<usbdevfs_urb*>(arg->data);
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
        arg, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), nullptr);
    if (buffer == nullptr) return -EFAULT;
    bool complete = false;
    const auto length = static_cast<std::size_t>(urb->buffer_length);
    *what = "SUBMITURB type " + std::to_string(urb->type);
    if (urb->type == USBDEVFS_URB_TYPE_CONTROL && length >= kSetupSize) {
      const int n =
          control(buffer->data, buffer->data + kSetupSize, length - kSetupSize, file, what);
      complete = !(p.fault == kFaultNeverCompletes && what->starts_with("GET_DEVICE_ID"));
      *what = "SUBMITURB " + *what + (n < 0 ? std::string(" -> ") + strerrorname_np(-n) : "");
      urb->status = n < 0 ? n : 0;
      urb->actual_length = n < 0 ? 0 : n;
    }
    g_object_unref(buffer);
    file.urbs.push_back({UMOCKDEV_IOCTL_DATA(g_object_ref(arg)), complete});
    return 0;
  }

  // The answer to one usbdevfs ioctl whose argument points to `arg`: its
  // result, or a negative errno.
  long usbfs(UMockdevIoctlClient* client, unsigned long request, UMockdevIoctlData* arg,
             std::string* what) {
    OpenFile& file = files[client];
    if (request == USBDEVFS_REAPURBNDELAY) {  // not logged: polled
      for (auto it = file.urbs.begin(); it != file.urbs.end(); ++it) {
        if (!it->complete) continue;
        umockdev_ioctl_data_set_ptr(arg, 0, it->data);
        g_object_unref(it->data);
        file.urbs.erase(it);
        return 0;
      }
      return gone ? -ENODEV : -EAGAIN;
    }
    if (gone) {
      *what = request == USBDEVFS_SUBMITURB ? "SUBMITURB" : "ioctl after unplug";
      return -ENODEV;
    }
    const auto number = [&] { return *reinterpret_cast<unsigned*>(arg->data); };
    switch (request) {
      case USBDEVFS_SUBMITURB:
        return submit(arg, file, what);
      case USBDEVFS_GET_CAPABILITIES: {
        *what = "GET_CAPABILITIES";
        const std::uint32_t caps = USBDEVFS_CAP_BULK_CONTINUATION |
                                   USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                   USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        std::memcpy(arg->data, &caps, sizeof caps);
        return 0;
      }
      case USBDEVFS_DISCARDURB:
        *what = "DISCARDURB";
        for (Urb& urb : file.urbs) {
          if (urb.complete) continue;
          auto* u = reinterpret_cast<usbdevfs_urb*>(urb.data->data);
          u->status = -ENOENT;
          u->actual_length = 0;
          urb.complete = true;
          return 0;
        }
        return -EINVAL;
      case USBDEVFS_CLAIMINTERFACE:
        *what = "CLAIMINTERFACE " + std::to_string(number());
        if (driverBound && ours(number())) return -EBUSY;
        file.claimed.insert(number());
        return 0;
      case USBDEVFS_RELEASEINTERFACE:
        *what = "RELEASEINTERFACE " + std::to_string(number());
        return file.claimed.erase(number()) == 1 ? 0 : -EINVAL;
      case USBDEVFS_GETDRIVER: {
        auto* get = reinterpret_cast<usbdevfs_getdriver*>(arg->data);
        *what = "GETDRIVER " + std::to_string(get->interface);
        const bool claimedHere = file.claimed.contains(get->interface);
        if (!(ours(get->interface) && driverBound) && !claimedHere) return -ENODATA;
        std::snprintf(get->driver, sizeof get->driver, "%s", claimedHere ? "usbfs" : kUsblpDriver);
        return 0;
      }
      case USBDEVFS_IOCTL: {
        auto* command = reinterpret_cast<usbdevfs_ioctl*>(arg->data);
        const auto ifno = static_cast<unsigned>(command->ifno);
        if (command->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
          *what = "DISCONNECT " + std::to_string(ifno);
          if (!ours(ifno) || !driverBound) return -ENODATA;
          driverBound = false;
          return 0;
        }
        if (command->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
          *what = "CONNECT " + std::to_string(ifno);
          if (ours(ifno) && p.usblp && !file.claimed.contains(ifno)) driverBound = true;
          return 0;
        }
        *what = "IOCTL " + std::to_string(command->ioctl_code);
        return -ENOTTY;
      }
      default:
        *what = format("unknown ioctl %#lx", request);
        return -ENOTTY;
    }
  }
};

void logLine(const char* node, const std::string& what) {
  if (g_ioctlLog == nullptr) return;
  std::fprintf(g_ioctlLog, "%s %s\n", node + std::strlen("/dev/"), what.c_str());
  std::fflush(g_ioctlLog);
}

gboolean handleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
  auto* device = static_cast<Device*>(user);
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  const char* node = umockdev_ioctl_client_get_devnode(client);
  // The argument is the client's pointer; the memory it points to is
  // fetched here and written back on completion.
  UMockdevIoctlData* arg = nullptr;
  if (_IOC_SIZE(request) > 0) {
    arg = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, _IOC_SIZE(request),
                                      nullptr);
    if (arg == nullptr) {
      umockdev_ioctl_client_complete(client, -1, EFAULT);
      return TRUE;
    }
  }
  std::string what = "unknown ioctl";
  long result = -ENOTTY;
  if (node != device->lpNode) {
    result = device->usbfs(client, request, arg, &what);
  } else if (_IOC_TYPE(request) == 'P' && _IOC_NR(request) == 1 && _IOC_DIR(request) == _IOC_READ &&
             arg != nullptr) {
    // LPIOC_GET_DEVICE_ID(size): usblp answers from the ID it read when the printer was plugged in.
    what = "LPIOC_GET_DEVICE_ID " + std::to_string(_IOC_SIZE(request));
    Bytes reply = device->deviceIdReply();
    reply.resize(std::min(reply.size(), static_cast<std::size_t>(arg->data_len)));
    umockdev_ioctl_data_update(arg, 0, reply.data(), static_cast<gint>(reply.size()));
    result = 0;
  }
  const int error = result < 0 ? static_cast<int>(-result) : 0;
  if (request != USBDEVFS_REAPURBNDELAY)
    logLine(node, what + (error ? std::string(" -> ") + strerrorname_np(error) : ""));
  umockdev_ioctl_client_complete(client, error ? -1 : result, error);
  if (arg != nullptr) g_object_unref(arg);
  return TRUE;
}

void clientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
  logLine(umockdev_ioctl_client_get_devnode(client), "open");
}

// The file of `path` in the testbed, its directory made.
std::filesystem::path inTestbed(UMockdevTestbed* testbed, const std::string& path) {
  gchar* root = umockdev_testbed_get_root_dir(testbed);
  const std::filesystem::path file = root + path;
  g_free(root);
  std::filesystem::create_directories(file.parent_path());
  return file;
}

// Makes the node's file (add_device records only its numbers) and answers
// its ioctls from `device`.
void attach(UMockdevTestbed* testbed, const std::string& node, Device* device) {
  std::fclose(std::fopen(inTestbed(testbed, node).c_str(), "w"));
  UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
  g_signal_connect(handler, "handle-ioctl", G_CALLBACK(handleIoctl), device);
  g_signal_connect(handler, "client-connected", G_CALLBACK(clientConnected), device);
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(testbed, node.c_str(), handler, &error))
    fail("cannot emulate " + node + ": " + error->message);
  g_object_unref(handler);
}

void addDevice(UMockdevTestbed* testbed, Device& d, int index, int* lpCount) {
  const int devnum = kFirstDevnum + index;
  const std::string node = format("/dev/bus/usb/%03d/%03d", kBus, devnum);
  const std::string name = format("%d-%d", kBus, index + 1);
  gchar* syspath = umockdev_testbed_add_device(
      testbed, "usb", name.c_str(), nullptr, "busnum", std::to_string(kBus).c_str(), "devnum",
      std::to_string(devnum).c_str(), "serial", d.p.serial.c_str(), "bConfigurationValue", "1",
      "speed", "480", "dev", format("189:%d", index + 1).c_str(), nullptr, "DEVNAME", node.c_str(),
      "DEVTYPE", "usb_device", nullptr);
  if (syspath == nullptr) fail("cannot add " + name);
  Bytes descriptors = d.descriptors();
  umockdev_testbed_set_attribute_binary(testbed, syspath, "descriptors", descriptors.data(),
                                        static_cast<gint>(descriptors.size()));
  if (d.p.usblp) {
    gchar* interfacePath = umockdev_testbed_add_device(
        testbed, "usb", format("%s:1.%d", name.c_str(), d.p.interfaceNumber).c_str(), syspath,
        "bInterfaceNumber", format("%02x", d.p.interfaceNumber).c_str(), nullptr, "DEVTYPE",
        "usb_interface", "DRIVER", kUsblpDriver, nullptr);
    const std::string lpName = format("lp%d", (*lpCount)++);
    d.lpNode = "/dev/usb/" + lpName;
    gchar* lpPath = umockdev_testbed_add_device(testbed, "usbmisc", lpName.c_str(), interfacePath,
                                                nullptr, "DEVNAME", d.lpNode.c_str(), nullptr);
    // sysfs links the usblp device to its interface.
    std::filesystem::create_directory_symlink("..",
                                              inTestbed(testbed, lpPath + std::string("/device")));
    d.driverBound = true;
    attach(testbed, d.lpNode, &d);
    g_free(lpPath);
    g_free(interfacePath);
  }
  g_free(syspath);
  // As root no permission bit refuses an open: a directory does (EISDIR).
  if (d.p.devfsUnopenable)
    std::filesystem::create_directory(inTestbed(testbed, node));
  else
    attach(testbed, node, &d);
}

}  // namespace

int main(int argc, char** argv) {
  // The testbed finds a parent device by its path in the emulated /sys, so
  // this process runs under the preload library too, as umockdev-wrapper
  // would run it.
  if (const char* preload = std::getenv("LD_PRELOAD");
      preload == nullptr || std::strcmp(preload, kPreload) != 0) {
    setenv("LD_PRELOAD", kPreload, 1);
    execv(std::filesystem::read_symlink("/proc/self/exe").c_str(), argv);
    fail("cannot run under " + std::string(kPreload));
  }
  std::vector<std::unique_ptr<Device>> devices;
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    const std::string arg = argv[i], key = arg.substr(0, arg.find('='));
    const std::string value = arg.substr(std::min(arg.size(), key.size() + 1));
    if (arg == "--printer")
      devices.push_back(std::make_unique<Device>());
    else if (key == "--log" && (g_ioctlLog = std::fopen(value.c_str(), "w")) == nullptr)
      fail("cannot write " + value);
    else if (key != "--log" && (devices.empty() || !setOption(devices.back()->p, key, value)))
      fail("unknown option, or one before --printer: " + arg);
  }
  if (i + 1 >= argc)
    fail("usage: usb-printer-emulator [--log=FILE] [--printer OPTIONS...]... -- COMMAND ARGS...");

  UMockdevTestbed* testbed = umockdev_testbed_new();
  int lpCount = 0;
  for (std::size_t n = 0; n < devices.size(); ++n)
    addDevice(testbed, *devices[n], static_cast<int>(n), &lpCount);
  gchar* root = umockdev_testbed_get_root_dir(testbed);
  const pid_t child = fork();
  if (child < 0) fail("fork failed");
  if (child == 0) {
    // The command must not outlive us when a test's time limit kills us.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    setenv("UMOCKDEV_DIR", root, 1);
    execvp(argv[i + 1], argv + i + 1);
    std::perror(argv[i + 1]);
    _exit(127);
  }
  g_free(root);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  g_object_unref(testbed);
  if (g_ioctlLog != nullptr) std::fclose(g_ioctlLog);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
