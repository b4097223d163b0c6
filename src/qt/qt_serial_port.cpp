#include "qt/qt_serial_port.h"

#include <QByteArray>
#include <QMetaObject>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>

namespace ovix {

namespace {

// How long an empty, unlocked port lock file must have stood unchanged before
// it counts as left by a dead process.
constexpr std::chrono::seconds kDeadLockAge{5};

const char* ErrorKind(QSerialPort::SerialPortError error) {
  switch (error) {
    case QSerialPort::DeviceNotFoundError:
      return "dispozitivul nu exista";
    case QSerialPort::PermissionError:
      return "acces refuzat sau port folosit de alt program";
    case QSerialPort::OpenError:
      return "portul este deja deschis";
    case QSerialPort::WriteError:
      return "scriere esuata";
    case QSerialPort::ReadError:
      return "citire esuata";
    case QSerialPort::ResourceError:
      return "dispozitivul nu mai este conectat";
    case QSerialPort::UnsupportedOperationError:
      return "operatie nesuportata de dispozitiv";
    case QSerialPort::TimeoutError:
      return "timp de asteptare depasit";
    case QSerialPort::NotOpenError:
      return "portul nu este deschis";
    default:
      return "eroare de port";
  }
}

// The kind of the error with QSerialPort's own text. That text comes from
// errno, which for a read that found the line hung up is left over from an
// earlier call; the kind keeps the reason true.
QString Reason(QSerialPort::SerialPortError error, const QString& detail) {
  QString reason = QString::fromLatin1(ErrorKind(error));
  if (!detail.isEmpty()) reason += QStringLiteral(" (") + detail + QLatin1Char(')');
  return reason;
}

// Removes the empty lock file that a process killed while taking the port's
// lock leaves behind. QSerialPort creates LCK..<name> first and writes its
// owner into it next; killed in between, the file stays empty and QLockFile,
// finding no owner to ask, takes it as held for half a minute, so a driver
// restarted at once could not open its port. A live QLockFile owner keeps an
// flock on its file for as long as it holds the port; a program that writes
// lock files the UUCP way holds no flock and writes its PID a moment after
// making the file, but not seconds later. So a file is dead once it has stood
// empty and unlocked for kDeadLockAge: a younger one is watched (the call
// blocks for up to kDeadLockAge) and kept when it gets content or a lock
// meanwhile. Looks in every directory QSerialPort makes its lock files in.
// Returns whether one was removed.
bool RemoveDeadLock(const std::string& deviceName) {
  std::string name = deviceName.rfind("/dev/", 0) == 0 ? deviceName.substr(5) : deviceName;
  for (char& c : name)
    if (c == '/') c = '_';
  bool removed = false;
  for (const char* dir : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp",
                          "/var/tmp", "/var/lock/lockdev", "/run/lock"}) {
    const std::string path = std::string(dir) + "/LCK.." + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    const auto emptyAndUnlocked = [&](struct stat* st) {
      return ::fstat(fd, st) == 0 && S_ISREG(st->st_mode) && st->st_size == 0 &&
             ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::flock(fd, LOCK_UN) == 0;
    };
    const auto watchedSince = std::chrono::steady_clock::now();
    struct stat st {};
    while (emptyAndUnlocked(&st)) {
      const bool old = std::time(nullptr) - st.st_mtime >= kDeadLockAge.count() ||
                       std::chrono::steady_clock::now() - watchedSince >= kDeadLockAge;
      struct stat now {};
      if (old && ::stat(path.c_str(), &now) == 0 && now.st_ino == st.st_ino &&
          now.st_dev == st.st_dev) {
        removed = ::unlink(path.c_str()) == 0 || removed;
        break;
      }
      if (old) break;
      ::usleep(100 * 1000);
    }
    ::close(fd);
  }
  return removed;
}

}  // namespace

QtSerialPort::QtSerialPort(QObject* parent) : QObject(parent), port_(this) {
  connect(&port_, &QSerialPort::readyRead, this, &QtSerialPort::ReadAvailable);
  connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::ForwardError);
}

QtSerialPort::~QtSerialPort() {
  // Closing here, while this object is still whole, keeps the port's own
  // signals from reaching a half-destroyed receiver.
  port_.disconnect(this);
  port_.close();
}

bool QtSerialPort::Open(const std::string& deviceName, std::string* error) {
  Close();
  device_ = deviceName;
  ++openings_;
  readFailed_ = false;
  port_.setPortName(QString::fromStdString(deviceName));
  // QSerialPort applies these settings when it opens the device and fails the
  // open when the device rejects one of them.
  port_.setBaudRate(QSerialPort::Baud9600);
  port_.setDataBits(QSerialPort::Data8);
  port_.setParity(QSerialPort::NoParity);
  port_.setStopBits(QSerialPort::OneStop);
  port_.setFlowControl(QSerialPort::NoFlowControl);
  opening_ = true;
  bool opened = port_.open(QIODevice::ReadWrite);
  if (!opened && port_.error() == QSerialPort::PermissionError && RemoveDeadLock(deviceName))
    opened = port_.open(QIODevice::ReadWrite);
  opening_ = false;
  if (!opened && error != nullptr)
    *error = Reason(port_.error(), port_.errorString()).toStdString();
  return opened;
}

bool QtSerialPort::IsOpen() const {
  return port_.isOpen();
}

void QtSerialPort::Close() {
  if (port_.isOpen()) port_.close();
}

bool QtSerialPort::EnsureOpen(std::string* error) {
  if (port_.isOpen()) return true;
  if (device_.empty()) {
    if (error != nullptr) *error = "niciun dispozitiv";
    return false;
  }
  return Open(device_, error);
}

void QtSerialPort::Write(const Bytes& bytes) {
  if (!port_.isOpen() || bytes.empty()) return;
  port_.write(bytes.data(), static_cast<qint64>(bytes.size()));
  port_.flush();
}

void QtSerialPort::ReadAvailable() {
  // Everything is taken out of the port before the first byte is handed on,
  // so a handler that writes to the port or runs the event processing never
  // meets a half-read buffer.
  const QByteArray received = port_.readAll();
  for (const char c : received) {
    if (onByte) onByte(static_cast<std::uint8_t>(c));
  }
}

void QtSerialPort::ForwardError(QSerialPort::SerialPortError error) {
  // A failed Open() reports through its result instead.
  if (error == QSerialPort::NoError || opening_) return;
  if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError ||
      error == QSerialPort::WriteError) {
    if (readFailed_) return;
    readFailed_ = true;
    // Closing inside QSerialPort's own read handling would pull its buffer
    // away under it, so the close waits for the next pass of the event
    // processing; a reopen in between keeps the new opening.
    const unsigned opening = openings_;
    QMetaObject::invokeMethod(
        this,
        [this, opening] {
          if (opening == openings_) Close();
        },
        Qt::QueuedConnection);
  }
  const QString reason = Reason(error, port_.errorString());
  emit portError(reason);
  if (onError) onError(reason.toStdString());
}

}  // namespace ovix
