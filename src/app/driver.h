// The running driver's pieces wired together: wire trace, printer link,
// receipt spool, over the port, event pump and host that the front end
// supplies; its start (recovery, port, timers, tray) and its stop line.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/app_host.h"
#include "app/driver_port.h"
#include "app/startup.h"
#include "link/printer_link.h"
#include "os/platform.h"
#include "shell/wire_trace.h"
#include "spool/spool_scheduler.h"

namespace ovix {

class Driver {
 public:
  // Starts the wire trace, connects the link to `port` and the spool to
  // `host`; every file goes through the startup's Env. `startup` must be
  // Ready; it, its Env, `port`, `pump` and `host` must outlive the driver.
  Driver(const Startup& startup, DriverPort& port, EventPump& pump, AppHost& host);
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Recovers an interrupted job, opens the port (before the polling timer
  // starts, so that nothing runs behind the message of a port that cannot be
  // opened), starts receiving, the timers and the tray icon. The failure when
  // the port cannot be opened, which is logged too.
  std::optional<StartupFailure> Start();

  // Writes the stop line once the host unloaded the main window in order;
  // once only, however often it is called.
  void WriteStopLine();

 private:
  const Startup& startup_;
  const EventLog& log_;
  DriverPort& port_;
  AppHost& host_;
  SteadyClock clock_;
  std::unique_ptr<WireTrace> trace_;
  PrinterLink link_;
  SpoolScheduler spool_;
  bool stopWritten_ = false;
};

}  // namespace ovix
