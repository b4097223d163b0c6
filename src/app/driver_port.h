// The serial port as the driver takes it from a front end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "os/platform.h"

namespace ovix {

// The serial port a front end supplies: a SerialPort that opens a device and
// reports what it receives and its failures through the two callbacks, from
// the event processing.
class DriverPort : public SerialPort {
 public:
  // Opens `device` with the register's line settings; false with the reason
  // in *error.
  virtual bool Open(const std::string& device, std::string* error) = 0;

  // Receives every byte read from the port, one call per byte, in order; may
  // call Write(). Unset: received bytes are dropped.
  std::function<void(std::uint8_t)> onByte;
  // A failure of the open port, as readable text.
  std::function<void(const std::string& reason)> onError;
};

}  // namespace ovix
