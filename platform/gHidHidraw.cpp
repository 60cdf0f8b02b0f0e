// The Linux HID transport: hidapi lists the devices, and the driver's own descriptor on the
// hidraw node does all input and output. hidapi's read and write are not used: both free
// and replace one error string per device, so a reader thread and a writer thread on the
// same device can free it twice.
#include <errno.h>
#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <sys/file.h>
#include <unistd.h>

#include <mutex>

#include "platform/gHidFdDevice.h"

namespace {

class gHidHidraw : public gHid {
 public:
  ~gHidHidraw() override {
    if (m_initialised) hid_exit();
  }

  bool Enumerate(std::uint16_t a_vendor, std::uint16_t a_product, std::vector<std::string>& a_paths) override {
    a_paths.clear();
    // hidapi's start-up and enumeration share process-wide state of their own.
    std::lock_guard<std::mutex> hold(m_guard);
    if (!m_initialised) {
      if (hid_init() != 0) return false;
      m_initialised = true;
    }
    hid_device_info* devices = hid_enumerate(a_vendor, a_product);
    for (hid_device_info* d = devices; d; d = d->next) {
      if (d->path) a_paths.emplace_back(d->path);
    }
    hid_free_enumeration(devices);
    return true;
  }

  std::unique_ptr<gHidDevice> Open(const std::string& a_path, int* a_error) override {
    const int fd = open(a_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      *a_error = errno;
      return nullptr;
    }
    // Two programs reading one remote would each see half of its reports; the lock makes the
    // second one look elsewhere.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      *a_error = errno;
      close(fd);
      return nullptr;
    }
    auto device = std::make_unique<gHidFdDevice>(fd);
    if (!device->IsUsable()) {
      *a_error = errno;
      return nullptr;
    }
    return device;
  }

  bool SupportsOutputReports() const override { return true; }

 private:
  std::mutex m_guard;
  bool m_initialised = false;
};

}  // namespace

gHid& gHid::System() {
  static gHidHidraw transport;
  return transport;
}
