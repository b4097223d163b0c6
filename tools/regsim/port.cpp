#include "port.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace regsim {

namespace {

// Raw 8N1 at 9600 bit/s. On a pseudo-terminal the speed means nothing, but raw mode matters:
// with echo or output processing left on, replies would loop back or get CR bytes added.
bool MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

std::string Failed(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// A new link is made under a temporary name and renamed over the old one, so a driver that
// opens the path sees either the old or the new terminal, never a missing file.
std::string PointLink(const std::string& link, const std::string& target) {
  const std::string temporary = link + ".tmp" + std::to_string(getpid());
  unlink(temporary.c_str());
  if (symlink(target.c_str(), temporary.c_str()) != 0) return Failed("symlink " + temporary);
  if (rename(temporary.c_str(), link.c_str()) != 0) {
    const std::string error = Failed("rename " + temporary);
    unlink(temporary.c_str());
    return error;
  }
  return {};
}

}  // namespace

Port::~Port() {
  Close();
  if (!link_.empty()) unlink(link_.c_str());
}

void Port::Close() {
  if (slave_ >= 0) close(slave_);
  if (fd_ >= 0) close(fd_);
  slave_ = fd_ = -1;
}

std::string Port::NewPty() {
  fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) return Failed("posix_openpt");
  const char* name = nullptr;
  if (grantpt(fd_) != 0 || unlockpt(fd_) != 0 || (name = ptsname(fd_)) == nullptr) {
    const std::string error = Failed("pseudo-terminal");
    Close();
    return error;
  }
  path_ = name;
  // Holding the slave open keeps the master readable while the driver has not opened the
  // line yet or has closed it; without it, reads on the master fail with EIO.
  slave_ = open(name, O_RDWR | O_NOCTTY);
  if (slave_ < 0 || !MakeRaw(slave_)) {
    const std::string error = Failed(path_);
    Close();
    return error;
  }
  return link_.empty() ? std::string() : PointLink(link_, path_);
}

std::string Port::OpenPty(const std::string& link) {
  pty_ = true;
  link_ = link;
  return NewPty();
}

std::string Port::OpenDevice(const std::string& path) {
  path_ = path;
  // O_NONBLOCK also keeps the open from waiting for carrier.
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0 || !MakeRaw(fd_)) {
    const std::string error = Failed(path);
    Close();
    return error;
  }
  return {};
}

std::string Port::Replug() {
  if (!pty_ || link_.empty()) return "needs --link";
  Close();
  return NewPty();
}

std::string Port::Unplug() {
  if (!pty_ || link_.empty()) return "needs --link";
  Close();
  if (unlink(link_.c_str()) != 0 && errno != ENOENT) return Failed("unlink " + link_);
  return {};
}

std::string Port::Plug() {
  if (!pty_ || link_.empty()) return "needs --link";
  if (fd_ >= 0) return "already plugged in";
  return NewPty();
}

}  // namespace regsim
