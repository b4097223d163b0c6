// The register's end of the serial line: a pseudo-terminal, optionally reached through a
// symbolic link that follows it when it is unplugged and plugged again, or a given device.
#pragma once

#include <string>

namespace regsim {

class Port {
 public:
  Port() = default;
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;
  ~Port();

  // Each returns an error text, empty on success.
  std::string OpenPty(const std::string& link);
  std::string OpenDevice(const std::string& path);
  // Hangs up the pseudo-terminal and opens a fresh one behind the same link.
  std::string Replug();
  // Hangs up the pseudo-terminal and removes the link, as if the device were pulled out.
  std::string Unplug();
  std::string Plug();

  int fd() const { return fd_; }
  // What the driver opens: the link when there is one, else the device itself.
  const std::string& name() const { return link_.empty() ? path_ : link_; }

 private:
  std::string NewPty();
  void Close();

  int fd_ = -1, slave_ = -1;
  bool pty_ = false;
  std::string path_, link_;
};

}  // namespace regsim
