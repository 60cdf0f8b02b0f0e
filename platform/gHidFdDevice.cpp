#include "platform/gHidFdDevice.h"

#include <errno.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

namespace {

// How long a write may wait for room in the device's queue before it counts as failed.
constexpr int kWriteRoomMs = 100;

}  // namespace

gHidFdDevice::gHidFdDevice(int a_fd) : m_fd(a_fd), m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

gHidFdDevice::~gHidFdDevice() {
  if (m_wake >= 0) close(m_wake);
  if (m_fd >= 0) close(m_fd);
}

gHidResult gHidFdDevice::Read(std::uint8_t* a_buffer, std::size_t a_size, int a_timeoutMs, std::size_t* a_length) {
  *a_length = 0;
  if (!IsUsable()) return HID_FAILED;
  pollfd fds[2] = {{m_wake, POLLIN, 0}, {m_fd, POLLIN, 0}};
  int ready;
  do {
    ready = poll(fds, 2, a_timeoutMs < 0 ? 0 : a_timeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return HID_FAILED;
  // The eventfd is never drained: once woken, a device stays woken.
  if (fds[0].revents) return HID_WOKEN;
  if (ready == 0) return HID_TIMEOUT;
  if (fds[1].revents & POLLIN) {
    const ssize_t got = read(m_fd, a_buffer, a_size);
    if (got > 0) {
      *a_length = static_cast<std::size_t>(got);
      return HID_OK;
    }
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return HID_TIMEOUT;
    // 0 bytes is the far end closing; anything else (ENODEV when the remote is switched off)
    // is as final.
    return HID_FAILED;
  }
  return HID_FAILED;  // POLLHUP, POLLERR or POLLNVAL without data
}

gHidResult gHidFdDevice::Write(const std::uint8_t* a_report, std::size_t a_size) {
  if (m_fd < 0) return HID_FAILED;
  for (int attempt = 0; attempt < 2; ++attempt) {
    ssize_t put;
    do {
      put = write(m_fd, a_report, a_size);
    } while (put < 0 && errno == EINTR);
    if (put == static_cast<ssize_t>(a_size)) return HID_OK;
    if (put >= 0 || errno != EAGAIN) return HID_FAILED;
    pollfd room = {m_fd, POLLOUT, 0};
    if (poll(&room, 1, kWriteRoomMs) <= 0) return HID_FAILED;
  }
  return HID_FAILED;
}

gHidResult gHidFdDevice::SetOutputReport(const std::uint8_t* a_report, std::size_t a_size) {
  if (m_fd < 0) return HID_FAILED;
  // The ioctl's argument is not const, though the kernel only reads it.
  std::uint8_t copy[64];
  if (a_size > sizeof copy) return HID_FAILED;
  std::memcpy(copy, a_report, a_size);
  int result;
  do {
    result = ioctl(m_fd, HIDIOCSOUTPUT(a_size), copy);
  } while (result < 0 && errno == EINTR);
  if (result >= 0) return HID_OK;
  switch (errno) {
    case EBUSY:
    case EAGAIN:
      return HID_BUSY;
    case ETIMEDOUT:
      return HID_NOT_READY;
    case ENOTTY:
    case EINVAL:
    case ENOSYS:
    case EOPNOTSUPP:
      return HID_UNSUPPORTED;
    default:
      return HID_FAILED;
  }
}

void gHidFdDevice::Wake() {
  if (m_wake < 0) return;
  const std::uint64_t one = 1;
  ssize_t put;
  do {
    put = write(m_wake, &one, sizeof one);
  } while (put < 0 && errno == EINTR);
}
