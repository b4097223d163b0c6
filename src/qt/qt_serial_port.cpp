#include "qt/qt_serial_port.h"

#include <QByteArray>
#include <QMetaObject>

namespace ovix {

namespace {

const char* ErrorKind(QSerialPort::SerialPortError error) {
  switch (error) {
    case QSerialPort::DeviceNotFoundError:
      return "device not found";
    case QSerialPort::PermissionError:
      return "access denied or port in use";
    case QSerialPort::OpenError:
      return "port already open";
    case QSerialPort::WriteError:
      return "write failed";
    case QSerialPort::ReadError:
      return "read failed";
    case QSerialPort::ResourceError:
      return "device no longer available";
    case QSerialPort::UnsupportedOperationError:
      return "operation not supported";
    case QSerialPort::TimeoutError:
      return "timed out";
    case QSerialPort::NotOpenError:
      return "port not open";
    default:
      return "port error";
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
  const bool opened = port_.open(QIODevice::ReadWrite);
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
    if (error != nullptr) *error = "no device";
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
  emit portError(Reason(error, port_.errorString()));
}

}  // namespace ovix
