// The serial line to the register over QSerialPort: 9600 bit/s, 8 data bits, no
// parity, 1 stop bit, no flow control. Bytes pass unchanged in both directions,
// zero bytes included. Lives on the GUI thread; received bytes are delivered
// from that thread's event processing.
#pragma once

#include <QObject>
#include <QSerialPort>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>

#include "app/driver_port.h"

namespace ovix {

class QtSerialPort : public QObject, public DriverPort {
  Q_OBJECT

 public:
  explicit QtSerialPort(QObject* parent = nullptr);
  ~QtSerialPort() override;

  // Opens deviceName for reading and writing with the line settings above.
  // deviceName is a device path ("/dev/ttyS0", "/dev/pts/5") or a Windows port
  // name ("COM3"). A port that is already open is closed first. On failure
  // returns false and, when error is not null, stores the reason in it. On
  // POSIX, QSerialPort also takes a UUCP lock file (LCK..<name>) and exclusive
  // use of the device, so a port held by another program fails to open. An
  // empty, unlocked lock file (left by a program killed while taking the lock)
  // is removed and the open tried once more.
  bool Open(const std::string& deviceName, std::string* error) override;
  bool IsOpen() const;
  // Closes the port; does nothing when it is not open.
  void Close();

  // Hands the bytes to the port in order and pushes out at once as many as the
  // line takes without blocking; the rest goes out from the event processing.
  // Returns without waiting for the register. A closed port drops the bytes.
  void Write(const Bytes& bytes) override;
  // Opens the device of the last Open() again when the port was closed.
  bool EnsureOpen(std::string* error) override;

 signals:
  // The open port reported an error; reason is readable text (onError gets it
  // too, after the signal). A failed read (the
  // device went away, the other end of a pseudo-terminal hung up) is reported
  // once, and the port then closes itself from the event processing, since
  // reading cannot recover and QSerialPort would otherwise report it again on
  // every pass. Receivers that close or reopen the port must use a queued
  // connection.
  void portError(const QString& reason);

 private:
  void ReadAvailable();
  void ForwardError(QSerialPort::SerialPortError error);

  QSerialPort port_;
  std::string device_;       // the device of the last Open(), for reopening
  unsigned openings_ = 0;    // counts Open() calls; ties a deferred close to its opening
  bool readFailed_ = false;  // a read failure of this opening was reported
  bool opening_ = false;     // inside Open(): errors go to its result
};

}  // namespace ovix
