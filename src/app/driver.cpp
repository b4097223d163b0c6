#include "app/driver.h"

#include "app/ui_tables.h"

namespace ovix {

Driver::Driver(const Startup& startup, DriverPort& port, EventPump& pump, AppHost& host)
    : startup_(startup),
      log_(*startup.log),
      port_(port),
      host_(host),
      trace_(StartWireTrace(*startup.env, startup.settings, log_)),
      link_(port, clock_, pump),
      spool_(*startup.env, startup.settings, link_, log_, host, clock_,
             [&env = *startup.env] { return LocalTimestampNow(env); }) {
  link_.SetObserver(trace_.get());
  port_.onByte = [this](std::uint8_t b) { link_.OnByte(b); };
  port_.onError = [this](const std::string& reason) { spool_.OnPortError(reason); };
  host_.Attach(&spool_);
}

Driver::~Driver() {
  port_.onByte = nullptr;
  port_.onError = nullptr;
  host_.Attach(nullptr);
}

std::optional<StartupFailure> Driver::Start() {
  spool_.RecoverInterruptedJob();
  std::string error;
  if (!port_.Open(startup_.device, &error)) {
    StartupFailure failure = MakeStartupFailure(StartupFailure::Kind::PortNotOpened,
                                                startup_.device, startup_.iniPath, error);
    log_.WriteLines({StartupFailureLine(failure), ""});
    return failure;
  }
  link_.StartReceiving();
  host_.StartTimer();
  host_.ShowTray(ui::TooltipText(startup_.settingsProblem));
  return std::nullopt;
}

void Driver::WriteStopLine() {
  if (stopWritten_ || !host_.MainUnloaded()) return;
  stopWritten_ = true;
  log_.WriteLines(StopLines(LocalTimestampNow(*startup_.env)));
}

}  // namespace ovix
