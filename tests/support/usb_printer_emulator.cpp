// usb-printer-emulator: USB printers emulated with umockdev for the tests
// and the demo (options in support/usb_printer.h). The devices follow what
// the kernel does where a program can tell: GET_DEVICE_ID to a printer
// interface needs no claim, a claim on an interface usblp holds fails with
// EBUSY, claims belong to the open file, and an unplugged device ends its
// transfers with ESHUTDOWN and refuses later ioctls with ENODEV.
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
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

#include "support/usb_printer.h"
#include "usbink/base64.h"
#include "usbink/status.h"

namespace {

using usbink::test::EmulatedPrinter;
using Bytes = std::vector<std::uint8_t>;

constexpr int kBus = 1;
constexpr int kFirstDevnum = 2;
constexpr std::uint16_t kVendor = 0x1a2b;
constexpr std::uint16_t kPrinterProduct = 0x0001;
constexpr std::uint16_t kOtherProduct = 0x0002;
constexpr std::uint8_t kClassPrinter = 7, kSubclassPrinter = 1, kProtocolBidirectional = 2;
constexpr std::uint8_t kClassHid = 3, kClassVendor = 0xff;
constexpr std::uint8_t kGetDeviceIdType = 0xA1, kGetDeviceId = 0;
constexpr std::uint8_t kGetDescriptorType = 0x80, kGetDescriptor = 6, kStringDescriptor = 3;
constexpr std::uint8_t kSerialIndex = 3;
constexpr std::size_t kSetupSize = 8;
constexpr unsigned long kLpGetDeviceIdNr = 1;
constexpr char kLpIoctlType = 'P';
constexpr const char* kUsblpDriver = "usblp";
constexpr const char* kUsbfsDriver = "usbfs";
constexpr const char* kPreload = "libumockdev-preload.so.0";

FILE* g_ioctlLog = nullptr;

void logLine(const std::string& node, const std::string& what) {
  if (g_ioctlLog == nullptr) return;
  std::fprintf(g_ioctlLog, "%s %s\n", node.c_str(), what.c_str());
  std::fflush(g_ioctlLog);
}

void put16(Bytes& b, unsigned v) {
  b.push_back(static_cast<std::uint8_t>(v & 0xff));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

std::string statusField(int level) {
  unsigned char block[kPrinterStatusSize];
  block[0] = static_cast<unsigned char>(level);
  for (std::size_t i = 1; i < kPrinterStatusSize; ++i) block[i] = static_cast<unsigned char>(i);
  char text[2 * kPrinterStatusSize];
  base64_encode(block, sizeof block, text, sizeof text);
  return std::string("STS:") + text + ";";
}

// An URB owned by one open file: submitted, then reaped.
struct Urb {
  UMockdevIoctlData* data;  // our reference to the client's struct usbdevfs_urb
  bool complete;
};

struct OpenFile {
  std::set<unsigned> claimed;
  std::deque<Urb> urbs;
};

struct Device {
  EmulatedPrinter p;
  std::string node;  // "/dev/bus/usb/001/002"
  std::string lpNode;
  bool driverBound = false;  // usblp holds the printer interface
  bool gone = false;
  std::map<UMockdevIoctlClient*, OpenFile> files;

  Bytes deviceIdReply(std::size_t room) const {
    const std::string id =
        (p.deviceId.empty() ? "MFG:" + p.make + ";CMD:PCL;MDL:" + p.model + ";" : p.deviceId) +
        statusField(p.level);
    std::size_t prefix = id.size() + 2;
    if (p.fault == usbink::test::kFaultPrefixBeyondData) prefix += 10;
    if (p.fault == usbink::test::kFaultPrefixOne) prefix = 1;
    if (p.fault == usbink::test::kFaultPrefixZero) prefix = 0;
    Bytes reply(id.size() + 2);
    reply[0] = static_cast<std::uint8_t>(prefix >> 8);
    reply[1] = static_cast<std::uint8_t>(prefix & 0xff);
    std::memcpy(reply.data() + 2, id.data(), id.size());
    if (reply.size() > room) reply.resize(room);
    return reply;
  }

  Bytes descriptors() const {
    const bool serial = !p.serial.empty();
    Bytes d{18, 1};
    put16(d, 0x0200);
    d.insert(d.end(), {0, 0, 0, 64});
    put16(d, kVendor);
    put16(d, p.printerClass ? kPrinterProduct : kOtherProduct);
    put16(d, 0x0100);
    d.insert(d.end(), {1, 2, static_cast<std::uint8_t>(serial ? kSerialIndex : 0), 1});
    const int interfaces = p.printerClass ? p.interfaceNumber + 1 : 1;
    Bytes config{9, 2};
    put16(config, 0);  // total length, set below
    config.insert(config.end(), {static_cast<std::uint8_t>(interfaces), 1, 0, 0xC0, 50});
    for (int i = 0; i < interfaces; ++i) {
      const bool printer = p.printerClass && i == p.interfaceNumber;
      const std::uint8_t cls =
          printer ? kClassPrinter : (p.printerClass ? kClassVendor : kClassHid);
      config.insert(
          config.end(),
          {9, 4, static_cast<std::uint8_t>(i), 0, static_cast<std::uint8_t>(printer ? 2 : 0), cls,
           static_cast<std::uint8_t>(printer ? kSubclassPrinter : 0),
           static_cast<std::uint8_t>(printer ? kProtocolBidirectional : 0), 0});
      if (!printer) continue;
      for (std::uint8_t endpoint : {0x01, 0x81}) {
        config.insert(config.end(), {7, 5, endpoint, 2});
        put16(config, 512);
        config.push_back(0);
      }
    }
    config[2] = static_cast<std::uint8_t>(config.size() & 0xff);
    config[3] = static_cast<std::uint8_t>(config.size() >> 8);
    d.insert(d.end(), config.begin(), config.end());
    return d;
  }

  // The answer to a control transfer: the data stage, or a negative errno.
  int control(const std::uint8_t* setup, std::uint8_t* data, std::size_t room, OpenFile& file,
              std::string* what) {
    const unsigned value = setup[2] | (setup[3] << 8), index = setup[4] | (setup[5] << 8);
    if (setup[0] == kGetDeviceIdType && setup[1] == kGetDeviceId) {
      const unsigned number = index >> 8;
      *what = "GET_DEVICE_ID config=" + std::to_string(value) +
              " interface=" + std::to_string(number) + " alt=" + std::to_string(index & 0xff);
      if (!p.printerClass || number != static_cast<unsigned>(p.interfaceNumber) ||
          (index & 0xff) != 0 || value != 0 || p.fault == usbink::test::kFaultStall ||
          (p.fault == usbink::test::kFaultNeedsClaim && !file.claimed.contains(number))) {
        return -EPIPE;
      }
      if (p.fault == usbink::test::kFaultGone) {
        gone = true;
        return -ESHUTDOWN;
      }
      const Bytes reply = deviceIdReply(room);
      std::memcpy(data, reply.data(), reply.size());
      return static_cast<int>(reply.size());
    }
    if (setup[0] == kGetDescriptorType && setup[1] == kGetDescriptor &&
        (value >> 8) == kStringDescriptor) {
      const unsigned i = value & 0xff;
      *what = "GET_DESCRIPTOR string " + std::to_string(i);
      if (p.fault == usbink::test::kFaultSerialStall) return -EPIPE;
      const std::string text = i == 1              ? p.make
                               : i == 2            ? p.model
                               : i == kSerialIndex ? p.serial
                                                   : "";
      Bytes s{0, kStringDescriptor};
      if (i == 0) {
        put16(s, 0x0409);  // US English only
      } else if (!text.empty()) {
        for (char c : text) put16(s, static_cast<unsigned char>(c));
      } else {
        return -EPIPE;
      }
      s[0] = static_cast<std::uint8_t>(s.size());
      if (s.size() > room) s.resize(room);
      std::memcpy(data, s.data(), s.size());
      return static_cast<int>(s.size());
    }
    char hex[32];
    std::snprintf(hex, sizeof hex, "control %02x %02x", setup[0], setup[1]);
    *what = hex;
    return -EPIPE;
  }

  // SUBMITURB: control transfers are answered at once, unless the printer
  // never completes GET_DEVICE_ID; other transfers never complete.
  long submit(UMockdevIoctlData* arg, OpenFile& file, std::string* what) {
    auto* urb = reinterpret_cast<usbdevfs_urb*>(arg->data);
    GError* error = nullptr;
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
        arg, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), &error);
    if (buffer == nullptr) {
      g_clear_error(&error);
      return -EFAULT;
    }
    bool complete = false;
    if (urb->type == USBDEVFS_URB_TYPE_CONTROL &&
        static_cast<std::size_t>(urb->buffer_length) >= kSetupSize) {
      const int n = control(buffer->data, buffer->data + kSetupSize,
                            static_cast<std::size_t>(urb->buffer_length) - kSetupSize, file, what);
      complete =
          !(p.fault == usbink::test::kFaultNeverCompletes && what->starts_with("GET_DEVICE_ID"));
      if (n < 0) *what += std::string(" -> ") + strerrorname_np(-n);
      urb->status = n < 0 ? n : 0;
      urb->actual_length = n < 0 ? 0 : n;
    } else {
      *what = "type " + std::to_string(urb->type);
    }
    g_object_unref(buffer);
    file.urbs.push_back({UMOCKDEV_IOCTL_DATA(g_object_ref(arg)), complete});
    return 0;
  }

  long reap(UMockdevIoctlData* arg, OpenFile& file) {
    for (auto it = file.urbs.begin(); it != file.urbs.end(); ++it) {
      if (!it->complete) continue;
      umockdev_ioctl_data_set_ptr(arg, 0, it->data);
      g_object_unref(it->data);
      file.urbs.erase(it);
      return 0;
    }
    return gone ? -ENODEV : -EAGAIN;
  }

  // The answer to one usbdevfs ioctl: its result, or a negative errno.
  // `arg` is what the ioctl's argument points to.
  long usbfs(UMockdevIoctlClient* client, unsigned long request, UMockdevIoctlData* arg,
             std::string* what) {
    OpenFile& file = files[client];
    if (request == USBDEVFS_REAPURBNDELAY) return reap(arg, file);  // not logged: polled
    if (request == USBDEVFS_SUBMITURB) {
      *what = "SUBMITURB ";
      std::string detail;
      const long r = gone ? -ENODEV : submit(arg, file, &detail);
      *what += detail;
      return r;
    }
    if (gone) {
      *what = "ioctl after unplug";
      return -ENODEV;
    }
    const auto number = [&] { return *reinterpret_cast<unsigned*>(arg->data); };
    switch (request) {
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
        if (driverBound && number() == static_cast<unsigned>(p.interfaceNumber)) return -EBUSY;
        file.claimed.insert(number());
        return 0;
      case USBDEVFS_RELEASEINTERFACE:
        *what = "RELEASEINTERFACE " + std::to_string(number());
        return file.claimed.erase(number()) == 1 ? 0 : -EINVAL;
      case USBDEVFS_GETDRIVER: {
        auto* get = reinterpret_cast<usbdevfs_getdriver*>(arg->data);
        *what = "GETDRIVER " + std::to_string(get->interface);
        const bool ours = get->interface == static_cast<unsigned>(p.interfaceNumber);
        const bool claimedHere = file.claimed.contains(get->interface);
        if (!(ours && driverBound) && !claimedHere) return -ENODATA;
        std::snprintf(get->driver, sizeof get->driver, "%s",
                      claimedHere ? kUsbfsDriver : kUsblpDriver);
        return 0;
      }
      case USBDEVFS_IOCTL: {
        auto* command = reinterpret_cast<usbdevfs_ioctl*>(arg->data);
        const bool ours = command->ifno == p.interfaceNumber;
        if (command->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
          *what = "DISCONNECT " + std::to_string(command->ifno);
          if (!ours || !driverBound) return -ENODATA;
          driverBound = false;
          return 0;
        }
        if (command->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
          *what = "CONNECT " + std::to_string(command->ifno);
          if (ours && p.usblp && !file.claimed.contains(static_cast<unsigned>(command->ifno))) {
            driverBound = true;
          }
          return 0;
        }
        *what = "IOCTL " + std::to_string(command->ioctl_code);
        return -ENOTTY;
      }
      default: {
        char hex[32];
        std::snprintf(hex, sizeof hex, "unknown ioctl %#lx", request);
        *what = hex;
        return -ENOTTY;
      }
    }
  }
};

std::string shortNode(const std::string& node) {
  return node.substr(std::strlen("/dev/"));
}

gboolean handleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
  auto* device = static_cast<Device*>(user);
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  const std::string node = umockdev_ioctl_client_get_devnode(client);
  std::string what;
  long result;
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
  if (node == device->lpNode) {
    // usblp answers from the ID it read when the printer was plugged in.
    if (_IOC_TYPE(request) != kLpIoctlType || _IOC_NR(request) != kLpGetDeviceIdNr ||
        _IOC_DIR(request) != _IOC_READ) {
      what = "unknown ioctl";
      result = -ENOTTY;
    } else {
      what = "LPIOC_GET_DEVICE_ID " + std::to_string(_IOC_SIZE(request));
      Bytes reply = device->deviceIdReply(static_cast<std::size_t>(arg->data_len));
      umockdev_ioctl_data_update(arg, 0, reply.data(), static_cast<gint>(reply.size()));
      result = 0;
    }
  } else {
    result = device->usbfs(client, request, arg, &what);
  }
  if (!what.empty())
    logLine(shortNode(node),
            what + (result < 0 ? " -> " + std::string(strerrorname_np(static_cast<int>(-result)))
                               : ""));
  umockdev_ioctl_client_complete(client, result < 0 ? -1 : result,
                                 result < 0 ? static_cast<int>(-result) : 0);
  if (arg != nullptr) g_object_unref(arg);
  return TRUE;
}

void clientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
  logLine(shortNode(umockdev_ioctl_client_get_devnode(client)), "open");
}

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "usb-printer-emulator: %s\n", what.c_str());
  std::exit(125);
}

std::string option(const std::string& arg, const char* name) {
  const std::string prefix = std::string("--") + name + "=";
  return arg.starts_with(prefix) ? arg.substr(prefix.size()) : std::string("\x01");
}

// Where `path` of the emulated system lies.
std::string inTestbed(UMockdevTestbed* testbed, const std::string& path) {
  gchar* root = umockdev_testbed_get_root_dir(testbed);
  std::string where = root + path;
  g_free(root);
  return where;
}

// The file of a device node in the testbed: add_devicev records the node's
// numbers (dev/.node) but makes no file for it.
std::filesystem::path nodeFile(UMockdevTestbed* testbed, const std::string& node) {
  const std::filesystem::path file = inTestbed(testbed, node);
  std::filesystem::create_directories(file.parent_path());
  return file;
}

// Makes the node's file and answers its ioctls from `device`.
void attach(UMockdevTestbed* testbed, const std::string& node, Device* device) {
  std::fclose(std::fopen(nodeFile(testbed, node).c_str(), "w"));
  UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
  g_signal_connect(handler, "handle-ioctl", G_CALLBACK(handleIoctl), device);
  g_signal_connect(handler, "client-connected", G_CALLBACK(clientConnected), device);
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(testbed, node.c_str(), handler, &error)) {
    fail("cannot emulate " + node + ": " + error->message);
  }
  g_object_unref(handler);
}

void addDevice(UMockdevTestbed* testbed, Device& d, int index, int* lpCount) {
  char node[32], name[32], busnum[16], devnum[16], product[16], vendor[16];
  const int devnumber = kFirstDevnum + index;
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", kBus, devnumber);
  std::snprintf(name, sizeof name, "%d-%d", kBus, index + 1);
  std::snprintf(busnum, sizeof busnum, "%d", kBus);
  std::snprintf(devnum, sizeof devnum, "%d", devnumber);
  std::snprintf(vendor, sizeof vendor, "%04x", kVendor);
  std::snprintf(product, sizeof product, "%04x",
                d.p.printerClass ? kPrinterProduct : kOtherProduct);
  d.node = node;
  char devNumbers[16];
  std::snprintf(devNumbers, sizeof devNumbers, "189:%d", index + 1);
  std::vector<const char*> attributes{"idVendor",
                                      vendor,
                                      "idProduct",
                                      product,
                                      "busnum",
                                      busnum,
                                      "devnum",
                                      devnum,
                                      "manufacturer",
                                      d.p.make.c_str(),
                                      "product",
                                      d.p.model.c_str(),
                                      "bDeviceClass",
                                      "00",
                                      "bNumConfigurations",
                                      "1",
                                      "bConfigurationValue",
                                      "1",
                                      "speed",
                                      "480",
                                      "dev",
                                      devNumbers};
  if (!d.p.serial.empty()) attributes.insert(attributes.end(), {"serial", d.p.serial.c_str()});
  attributes.push_back(nullptr);
  std::vector<std::string> props{"DEVNAME", node, "DEVTYPE", "usb_device"};
  std::vector<gchar*> propPtrs;
  for (auto& s : props) propPtrs.push_back(s.data());
  propPtrs.push_back(nullptr);
  gchar* syspath = umockdev_testbed_add_devicev(
      testbed, "usb", name, nullptr, const_cast<gchar**>(attributes.data()), propPtrs.data());
  if (syspath == nullptr) fail(std::string("cannot add ") + name);
  const Bytes descriptors = d.descriptors();
  umockdev_testbed_set_attribute_binary(testbed, syspath, "descriptors",
                                        const_cast<guint8*>(descriptors.data()),
                                        static_cast<gint>(descriptors.size()));

  if (d.p.usblp) {
    char interfaceName[48], number[16], lpName[16];
    std::snprintf(interfaceName, sizeof interfaceName, "%s:1.%d", name, d.p.interfaceNumber);
    std::snprintf(number, sizeof number, "%02x", d.p.interfaceNumber);
    gchar* interfacePath = umockdev_testbed_add_device(
        testbed, "usb", interfaceName, syspath, "bInterfaceNumber", number, "bInterfaceClass", "07",
        "bInterfaceSubClass", "01", "bInterfaceProtocol", "02", nullptr, "DEVTYPE", "usb_interface",
        "DRIVER", kUsblpDriver, nullptr);
    std::snprintf(lpName, sizeof lpName, "lp%d", (*lpCount)++);
    d.lpNode = std::string("/dev/usb/") + lpName;
    gchar* lpPath = umockdev_testbed_add_device(testbed, "usbmisc", lpName, interfacePath, nullptr,
                                                "DEVNAME", d.lpNode.c_str(), nullptr);
    // sysfs links the usblp device to its interface.
    std::filesystem::create_directory_symlink("..",
                                              inTestbed(testbed, lpPath + std::string("/device")));
    d.driverBound = true;
    attach(testbed, d.lpNode, &d);
    g_free(lpPath);
    g_free(interfacePath);
  }
  g_free(syspath);

  if (d.p.devfsUnopenable) {
    // As root no permission bit refuses an open: a directory does (EISDIR).
    std::filesystem::create_directory(nodeFile(testbed, node));
    return;
  }
  attach(testbed, node, &d);
}

}  // namespace

int main(int argc, char** argv) {
  // The testbed finds a parent device by its path in the emulated /sys, so
  // this process runs under the preload library too, as umockdev-wrapper
  // would run it.
  if (const char* preload = std::getenv("LD_PRELOAD");
      preload == nullptr || std::strcmp(preload, kPreload) != 0) {
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    setenv("LD_PRELOAD", kPreload, 1);
    execv(self.c_str(), argv);
    fail("cannot run under " + std::string(kPreload));
  }
  std::vector<std::unique_ptr<Device>> devices;
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    const std::string arg = argv[i];
    if (arg == "--printer") {
      devices.push_back(std::make_unique<Device>());
      continue;
    }
    if (const std::string v = option(arg, "log"); v != "\x01") {
      g_ioctlLog = std::fopen(v.c_str(), "w");
      if (g_ioctlLog == nullptr) fail("cannot write " + v);
      continue;
    }
    if (devices.empty()) fail("option before --printer: " + arg);
    EmulatedPrinter& p = devices.back()->p;
    if (const std::string v = option(arg, "make"); v != "\x01")
      p.make = v;
    else if (const std::string v = option(arg, "model"); v != "\x01")
      p.model = v;
    else if (const std::string v = option(arg, "serial"); v != "\x01")
      p.serial = v;
    else if (const std::string v = option(arg, "interface"); v != "\x01")
      p.interfaceNumber = std::atoi(v.c_str());
    else if (const std::string v = option(arg, "id"); v != "\x01")
      p.deviceId = v;
    else if (const std::string v = option(arg, "level"); v != "\x01")
      p.level = std::atoi(v.c_str());
    else if (const std::string v = option(arg, "fault"); v != "\x01")
      p.fault = v;
    else if (arg == "--not-a-printer")
      p.printerClass = false;
    else if (arg == "--usblp")
      p.usblp = true;
    else if (arg == "--devfs-unopenable")
      p.devfsUnopenable = true;
    else
      fail("unknown option " + arg);
  }
  if (i + 1 >= argc)
    fail("usage: usb-printer-emulator [--log=FILE] [--printer OPTIONS...]... -- COMMAND ARGS...");

  UMockdevTestbed* testbed = umockdev_testbed_new();
  int lpCount = 0;
  for (std::size_t n = 0; n < devices.size(); ++n)
    addDevice(testbed, *devices[n], static_cast<int>(n), &lpCount);

  gchar* root = umockdev_testbed_get_root_dir(testbed);
  const std::string rootDir = root;
  g_free(root);
  const pid_t child = fork();
  if (child < 0) fail("fork failed");
  if (child == 0) {
    // The command must not outlive us when a test's time limit kills us.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    setenv("UMOCKDEV_DIR", rootDir.c_str(), 1);
    execvp(argv[i + 1], argv + i + 1);
    std::perror(argv[i + 1]);
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  g_object_unref(testbed);
  if (g_ioctlLog != nullptr) std::fclose(g_ioctlLog);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
