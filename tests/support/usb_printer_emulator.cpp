// usb-printer-emulator (see support/usb_printer.h): usbfs and usblp answered as the kernel does.
#include <err.h>
#include <linux/usbdevice_fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "support/snmp_agents.h"
#include "support/usb_printer.h"

namespace {

using namespace usbink::test;
using Bytes = std::vector<std::uint8_t>;
using std::to_string;

constexpr const char* kPreload = "libumockdev-preload.so.0";
// The configuration descriptor (9 + 9 per interface + 14 octets) keeps its length in one octet.
constexpr int kMaxInterfaceNumber = 24;
FILE* g_ioctlLog = nullptr;
UMockdevTestbed* g_testbed = nullptr;
std::string g_root;  // of the testbed

struct OpenFile {
  std::set<unsigned> claimed;
  std::vector<std::pair<UMockdevIoctlData*, bool>> urbs;  // the client's usbdevfs_urb, complete
};

struct Device {
  static std::uint8_t u8(unsigned v) { return static_cast<std::uint8_t>(v); }
  static void put16(Bytes& b, unsigned v) { b.insert(b.end(), {u8(v & 0xff), u8(v >> 8)}); }
  static int answer(const Bytes& reply, std::uint8_t* data, std::size_t room) {
    return static_cast<int>(std::copy_n(reply.begin(), std::min(reply.size(), room), data) - data);
  }

  EmulatedPrinter p;
  std::string lpNode;
  bool driverBound = false;  // usblp holds the printer interface
  std::map<UMockdevIoctlClient*, OpenFile> files;

  bool ours(unsigned number) const { return number == static_cast<unsigned>(p.interfaceNumber); }

  Bytes deviceIdReply() const {
    const std::string id =
        "MFG:" + p.make + ";CMD:PCL;MDL:" + p.model + ";STS:" + statusBlockWithToner(p.level) + ";";
    const std::size_t prefix = id.size() + 2 + (p.fault == "prefix-beyond-data" ? 10 : 0);
    const std::string reply = std::string{char(prefix >> 8), char(prefix & 0xff)} + id;
    return Bytes(reply.begin(), reply.end());
  }

  // A HID interface, or vendor-specific ones, then the printer's (bidirectional, bulk 0x01/0x81).
  Bytes descriptors() const {
    Bytes d{18, 1, 0, 2, 0, 0, 0, 64, 0x2b, 0x1a, 1, 0, 0, 1, 1, 2, u8(3 * !p.serial.empty()), 1};
    const int interfaces = p.printerClass ? p.interfaceNumber + 1 : 1;
    Bytes c{9, 2, 0, 0, u8(interfaces), 1, 0, 0xC0, 50};
    for (int i = 0; i < interfaces; ++i) {
      const bool printer = p.printerClass && i == p.interfaceNumber;
      const std::uint8_t cls = printer ? 7 : p.printerClass ? 0xff : 3, two = printer ? 2 : 0;
      c.insert(c.end(), {9, 4, u8(i), 0, two, cls, printer, two, 0});
      if (printer) c.insert(c.end(), {7, 5, 0x01, 2, 0, 2, 0, 7, 5, 0x81, 2, 0, 2, 0});
    }
    c[2] = u8(c.size());  // under 256
    d.insert(d.end(), c.begin(), c.end());
    return d;
  }

  int control(const std::uint8_t* setup, std::uint8_t* data, std::size_t room, OpenFile& file,
              std::string* what) {
    const unsigned value = setup[2] | (setup[3] << 8), index = setup[4] | (setup[5] << 8);
    if (setup[0] == 0xA1 && setup[1] == 0) {  // GET_DEVICE_ID
      const unsigned number = index >> 8;
      *what = "GET_DEVICE_ID config=" + to_string(value) + " interface=" + to_string(number) +
              " alt=" + to_string(index & 0xff);
      if (!p.printerClass || !ours(number) || (index & 0xff) != 0 || value != 0 ||
          (p.fault == "needs-claim" && !file.claimed.contains(number)))
        return -EPIPE;
      return answer(deviceIdReply(), data, room);
    }
    if (setup[0] == 0x80 && setup[1] == 6 && (value >> 8) == 3) {  // GET_DESCRIPTOR string
      const unsigned i = value & 0xff;
      *what = "GET_DESCRIPTOR string " + to_string(i);
      const std::string strings[] = {"", p.make, p.model, p.serial}, text = i < 4 ? strings[i] : "";
      if (p.fault == "serial-stall" || (i != 0 && text.empty())) return -EPIPE;
      Bytes s{0, 3};
      if (i == 0) put16(s, 0x0409);  // US English only
      for (char c : text) put16(s, static_cast<unsigned char>(c));
      s[0] = u8(s.size());
      return answer(s, data, room);
    }
    return *what = "control " + to_string(setup[0]) + " " + to_string(setup[1]), -EPIPE;
  }

  // Control transfers complete at once (GET_DEVICE_ID may never); others never do.
  long submit(UMockdevIoctlData* arg, OpenFile& file, std::string* what) {
    auto* urb = reinterpret_cast<usbdevfs_urb*>(arg->data);
    const auto length = static_cast<std::size_t>(urb->buffer_length);
    auto* buffer =
        umockdev_ioctl_data_resolve(arg, offsetof(usbdevfs_urb, buffer), length, nullptr);
    if (buffer == nullptr) return -EFAULT;
    bool complete = false;
    if (urb->type == USBDEVFS_URB_TYPE_CONTROL && length >= 8) {
      const int n = control(buffer->data, buffer->data + 8, length - 8, file, what);
      complete = !(p.fault == "never-completes" && what->starts_with("GET_DEVICE_ID"));
      *what = "SUBMITURB " + *what + (n < 0 ? std::string(" -> ") + strerrorname_np(-n) : "");
      urb->status = std::min(n, 0);
      urb->actual_length = std::max(n, 0);
    }
    g_object_unref(buffer);
    file.urbs.push_back({UMOCKDEV_IOCTL_DATA(g_object_ref(arg)), complete});
    return 0;
  }

  long usbfs(UMockdevIoctlClient* client, unsigned long request, UMockdevIoctlData* arg,
             std::string* what) {
    OpenFile& file = files[client];
    if (request == USBDEVFS_REAPURBNDELAY) {  // not logged: polled
      const auto it = std::ranges::find_if(file.urbs, [](const auto& u) { return u.second; });
      if (it == file.urbs.end()) return -EAGAIN;
      umockdev_ioctl_data_set_ptr(arg, 0, it->first);
      g_object_unref(it->first);
      file.urbs.erase(it);
      return 0;
    }
    const auto number = [&] { return *reinterpret_cast<unsigned*>(arg->data); };
    if (request == USBDEVFS_SUBMITURB) return submit(arg, file, what);
    if (request == USBDEVFS_GET_CAPABILITIES) {  // none; libusb opens a device with it
      *what = "GET_CAPABILITIES";
      std::memset(arg->data, 0, arg->data_len);
      return 0;
    }
    if (request == USBDEVFS_DISCARDURB) {
      const auto it = std::ranges::find_if(file.urbs, [](const auto& u) { return !u.second; });
      if (it == file.urbs.end()) return -EINVAL;
      auto* u = reinterpret_cast<usbdevfs_urb*>(it->first->data);
      u->status = -ENOENT;
      u->actual_length = 0;
      it->second = true;
      return 0;
    }
    if (request == USBDEVFS_CLAIMINTERFACE) {
      *what = "CLAIMINTERFACE " + to_string(number());
      if (driverBound && ours(number())) return -EBUSY;
      file.claimed.insert(number());
      return 0;
    }
    if (request == USBDEVFS_RELEASEINTERFACE) {
      *what = "RELEASEINTERFACE " + to_string(number());
      return file.claimed.erase(number()) == 1 ? 0 : -EINVAL;
    }
    if (request == USBDEVFS_GETDRIVER) {
      auto* get = reinterpret_cast<usbdevfs_getdriver*>(arg->data);
      const bool claimedHere = file.claimed.contains(get->interface);
      if (!(ours(get->interface) && driverBound) && !claimedHere) return -ENODATA;
      std::strcpy(get->driver, claimedHere ? "usbfs" : "usblp");
      return 0;
    }
    if (request != USBDEVFS_IOCTL) return -ENOTTY;
    const auto* command = reinterpret_cast<usbdevfs_ioctl*>(arg->data);
    const auto ifno = static_cast<unsigned>(command->ifno);
    if (command->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
      *what = "DISCONNECT " + to_string(ifno);
      if (!ours(ifno) || !driverBound) return -ENODATA;
      driverBound = false;
      return 0;
    }
    if (command->ioctl_code != static_cast<int>(USBDEVFS_CONNECT)) return -ENOTTY;
    *what = "CONNECT " + to_string(ifno);
    if (ours(ifno) && p.usblp && !file.claimed.contains(ifno)) driverBound = true;
    return 0;
  }
};

gboolean handleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, Device* device) {
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  const std::string node = umockdev_ioctl_client_get_devnode(client);
  UMockdevIoctlData* arg = nullptr;
  if (_IOC_SIZE(request) > 0 &&
      (arg = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                         _IOC_SIZE(request), nullptr)) == nullptr) {
    umockdev_ioctl_client_complete(client, -1, EFAULT);
    return TRUE;
  }
  std::string what = "ioctl " + to_string(_IOC_TYPE(request)) + "/" + to_string(_IOC_NR(request));
  long result = -ENOTTY;
  if (node != device->lpNode)
    result = device->usbfs(client, request, arg, &what);
  else if (_IOC_TYPE(request) == 'P' && _IOC_NR(request) == 1 && _IOC_DIR(request) == _IOC_READ &&
           arg != nullptr) {
    what = "LPIOC_GET_DEVICE_ID " + to_string(_IOC_SIZE(request));
    Device::answer(device->deviceIdReply(), arg->data, arg->data_len);
    result = 0;
  }
  const int error = result < 0 ? static_cast<int>(-result) : 0;
  if (g_ioctlLog != nullptr && request != USBDEVFS_REAPURBNDELAY)
    std::fprintf(g_ioctlLog, "%s %s%s%s\n", node.c_str() + 5, what.c_str(), error ? " -> " : "",
                 error ? strerrorname_np(error) : "");
  umockdev_ioctl_client_complete(client, error ? -1 : result, error);
  if (arg != nullptr) g_object_unref(arg);
  return TRUE;
}

std::filesystem::path inTestbed(const std::string& path) {
  const std::filesystem::path file = g_root + path;
  std::filesystem::create_directories(file.parent_path());
  return file;
}

// Makes the node's file (add_device records only its numbers) and answers its ioctls.
void attach(const std::string& node, Device* device) {
  std::fclose(std::fopen(inTestbed(node).c_str(), "w"));
  UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
  g_signal_connect(handler, "handle-ioctl", G_CALLBACK(handleIoctl), device);
  umockdev_testbed_attach_ioctl(g_testbed, node.c_str(), handler, nullptr);
  g_object_unref(handler);
}

void addDevice(Device& d, int index) {
  const std::string devnum = to_string(2 + index), name = "1-" + to_string(index + 1);
  const std::string node = "/dev/bus/usb/001/" + std::string(3 - devnum.size(), '0') + devnum;
  gchar* syspath = umockdev_testbed_add_device(
      g_testbed, "usb", name.c_str(), nullptr, "busnum", "1", "devnum", devnum.c_str(), "serial",
      d.p.serial.c_str(), "bConfigurationValue", "1", "speed", "480", "dev",
      ("189:" + to_string(index + 1)).c_str(), nullptr, "DEVNAME", node.c_str(), "DEVTYPE",
      "usb_device", nullptr);
  Bytes descriptors = d.descriptors();
  umockdev_testbed_set_attribute_binary(g_testbed, syspath, "descriptors", descriptors.data(),
                                        static_cast<gint>(descriptors.size()));
  if (d.p.usblp) {
    const std::string number = to_string(d.p.interfaceNumber), lp = "lp" + to_string(index);
    gchar* interfacePath = umockdev_testbed_add_device(
        g_testbed, "usb", (name + ":1." + number).c_str(), syspath, "bInterfaceNumber",
        (number.size() < 2 ? "0" + number : number).c_str(), nullptr, "DEVTYPE", "usb_interface",
        "DRIVER", "usblp", nullptr);
    d.lpNode = "/dev/usb/" + lp;
    gchar* lpPath = umockdev_testbed_add_device(g_testbed, "usbmisc", lp.c_str(), interfacePath,
                                                nullptr, "DEVNAME", d.lpNode.c_str(), nullptr);
    std::filesystem::create_directory_symlink("..", inTestbed(lpPath + std::string("/device")));
    d.driverBound = true;
    attach(d.lpNode, &d);
  }
  // As root no permission bit refuses an open: a directory does (EISDIR).
  d.p.devfsUnopenable ? void(std::filesystem::create_directory(inTestbed(node))) : attach(node, &d);
}

}  // namespace

int main(int argc, char** argv) {
  // Runs under the preload library too (as umockdev-wrapper would): parents are found by path.
  if (const char* on = std::getenv("LD_PRELOAD"); !on || std::strcmp(on, kPreload) != 0) {
    setenv("LD_PRELOAD", kPreload, 1);
    execv("/proc/self/exe", argv);
    errx(125, "cannot run under %s", kPreload);
  }
  std::vector<Device> devices;  // complete before any is attached
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    const std::string arg = argv[i], key = arg.substr(0, arg.find('='));
    const std::string value = arg.substr(std::min(arg.size(), key.size() + 1));
    if (arg == "--printer") {
      devices.emplace_back();
      continue;
    }
    if (key == "--log") {
      if (!value.empty() && (g_ioctlLog = std::fopen(value.c_str(), "w")) == nullptr)
        err(125, "%s", value.c_str());
      if (g_ioctlLog != nullptr) std::setvbuf(g_ioctlLog, nullptr, _IONBF, 0);
      continue;
    }
    bool known = false;
    if (!devices.empty())
      forEachOption(devices.back().p, [&](const char* o, auto& field) {
        if (key != o) return;
        known = true;
        if constexpr (std::is_same_v<decltype(field), std::string&>)
          field = value;
        else
          field = std::atoi(value.c_str());
      });
    if (!known) errx(125, "unknown option, or one before --printer: %s", arg.c_str());
  }
  for (const Device& d : devices)
    if (d.p.interfaceNumber < 0 || d.p.interfaceNumber > kMaxInterfaceNumber)
      errx(125, "--interface must be 0 to %d", kMaxInterfaceNumber);
  if (i + 1 >= argc) errx(125, "usage: [--log=FILE] [--printer OPTIONS...]... -- COMMAND ARGS...");

  g_testbed = umockdev_testbed_new();
  g_root = umockdev_testbed_get_root_dir(g_testbed);  // neither freed: the process ends soon
  for (std::size_t n = 0; n < devices.size(); ++n) addDevice(devices[n], static_cast<int>(n));
  const pid_t child = fork();
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // not to outlive us when a test's time limit kills us
    setenv("UMOCKDEV_DIR", g_root.c_str(), 1);
    execvp(argv[i + 1], argv + i + 1);
    err(127, "%s", argv[i + 1]);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
