#include "spool/receipt_spool.h"

#include "link/frame_codec.h"
#include "spool/receipt_line.h"
#include "spool/spool_files.h"
#include "spool/translation.h"

namespace ovix {
namespace fs = std::filesystem;

namespace {
// How long a file that could not be opened or moved is left alone before it
// is tried again.
constexpr std::chrono::seconds kRetryDelay{5};
// How many files met for the first time one tick stamps at the most.
constexpr int kFirstSightingsPerTick = 32;

bool IsBlank(const std::string& line) {
  return TrimSpaces(line).empty();
}
}  // namespace

ReceiptSpool::ReceiptSpool(const DriverSettings& settings, PrinterLink& link, const EventLog& log,
                           DriverHost& host, Timestamp timestamp)
    : settings_(settings), link_(link), log_(log), host_(host), timestamp_(std::move(timestamp)) {}

std::string ReceiptSpool::JobPath() const {
  return NativeDirectory(settings_.BONDIR) + JobFileName;
}

void ReceiptSpool::Log(const std::string& line) {
  // A line that cannot be written is skipped: the job matters more than its record.
  log_.WriteLogLine(line);
}

void ReceiptSpool::ReportOnce(const std::string& name, const std::string& line) {
  if (reported_.insert(name).second) Log(line);
}

std::optional<std::string> ReceiptSpool::Scan() {
  const std::string dir = NativeDirectory(settings_.BONDIR);
  const auto now = std::chrono::steady_clock::now();
  std::error_code ec;
  fs::directory_iterator it(dir.empty() ? fs::path(".") : PathFromText(dir), ec);
  std::map<std::string, Stamp> visited;
  std::optional<std::string> taken;
  int firstSightings = 0;
  bool wholeDirectory = true;
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    // A name the narrow file functions cannot spell could not be opened as a job.
    const std::optional<std::string> text = TextFromPath(it->path().filename());
    if (!text) continue;
    const std::string& name = *text;
    if (name.empty() || name[0] == '.' || IsOwnFile(name) ||
        !MatchesMask(name, settings_.EXTENSIE) || IsHiddenFile(it->path()))
      continue;
    std::error_code statEc;
    if (!it->is_regular_file(statEc) || it->is_symlink(statEc) || stuck_.count(name)) continue;
    if (auto d = deferred_.find(name); d != deferred_.end()) {
      if (now < d->second) continue;
      deferred_.erase(d);
    }
    const Stamp stamp{it->file_size(statEc), it->last_write_time(statEc)};
    if (statEc) continue;
    auto previous = seen_.find(name);
    if (previous != seen_.end() && previous->second == stamp) {
      taken = name;
      wholeDirectory = false;
      break;
    }
    // Files met for the first time are stamped a bounded number a tick, so a
    // spool of thousands of new files costs neither a long tick nor memory.
    if (previous == seen_.end() && ++firstSightings > kFirstSightingsPerTick) {
      wholeDirectory = false;
      break;
    }
    visited[name] = stamp;
  }
  if (wholeDirectory) {
    seen_ = std::move(visited);  // files that are gone are forgotten
  } else {
    for (auto& [name, stamp] : visited) seen_[name] = stamp;
    if (taken) seen_.erase(*taken);
  }
  return taken;
}

bool ReceiptSpool::IsOwnFile(const std::string& name) const {
  // The log and the job record never count as jobs, whatever the mask.
  for (std::string_view own : {kLogFileName, kJobRecordFileName}) {
    if (MatchesMask(name, own) || MatchesMask(name, std::string(own) + ".tmp")) return true;
  }
  return false;
}

bool ReceiptSpool::RecordJob(const char* state) {
  std::string error;
  const std::string path = NativeDirectory(settings_.BONDIR) + std::string(kJobRecordFileName);
  if (WriteFileDurably(path, std::string(state) + " " + JobFileName + "\n", &error)) return true;
  Log("-> EROARE !! EVIDENTA BONULUI " + JobPathText() + " NU POATE FI SCRISA: " + error);
  return false;
}

void ReceiptSpool::ClearJobRecord() {
  std::string error;
  const std::string path = NativeDirectory(settings_.BONDIR) + std::string(kJobRecordFileName);
  if (fs::exists(PathFromText(path)) && !RemoveFileDurably(path, &error))
    Log("-> EROARE !! EVIDENTA " + path + " NU POATE FI STEARSA: " + error);
}

void ReceiptSpool::RecoverInterruptedJob() {
  const std::string path = NativeDirectory(settings_.BONDIR) + std::string(kJobRecordFileName);
  std::string error;
  const std::optional<std::vector<std::string>> lines = ReadLines(path, &error);
  if (!lines || lines->empty()) return;
  const std::string& record = lines->front();
  const std::size_t blank = record.find(' ');
  if (blank == std::string::npos) return ClearJobRecord();
  const std::string state = record.substr(0, blank);
  JobFileName = record.substr(blank + 1);
  if (state == "PRINTED") {
    Log("-> RECUPERARE: BONUL " + JobPathText() + " A FOST TIPARIT INAINTE DE OPRIRE");
    if (fs::exists(PathFromText(JobPath()))) {
      FilePrinted();
    } else {
      ClearJobRecord();
    }
  } else {
    // Cut off in the middle: the next job tick clears the half-printed receipt
    // on the register, as a retry would, before printing it again.
    Log("-> RECUPERARE: BONUL " + JobPathText() +
        " A FOST INTRERUPT; SE ANULEAZA PE CASA SI SE TIPARESTE DIN NOU");
    OperatorDecision = 1;
  }
}

void ReceiptSpool::OnPortError(const std::string& reason) {
  if (portProblem_) return;
  portProblem_ = true;
  Log("-> EROARE PORT SERIAL " + settings_.COM + ": " + reason);
}

void ReceiptSpool::Tick() {
  if (phase_ != Phase::Idle) return;
  if (std::optional<std::string> name = Scan()) {
    RunJob(*name);
  } else if (ClearRequested == 1) {
    PerformClearing();
  }
}

void ReceiptSpool::RunJob(const std::string& name) {
  JobFileName = name;
  std::string error;
  std::optional<std::vector<std::string>> lines = ReadLines(JobPath(), &error);
  if (!lines) {
    ReportOnce(name, "-> EROARE !! FISIERUL " + JobPathText() + " NU POATE FI CITIT: " + error);
    deferred_[name] = std::chrono::steady_clock::now() + kRetryDelay;
    return;
  }
  reported_.erase(name);
  const bool currencyFile = !lines->empty() && settings_.CHPROGVAL.size() == 1 &&
                            !lines->front().empty() && lines->front()[0] == settings_.CHPROGVAL[0];
  // A file with nothing to send is filed at once, without talking to the register.
  if (currencyFile && std::all_of(lines->begin() + 1, lines->end(),
                                  [](const std::string& l) { return l.empty(); })) {
    std::error_code ec;
    fs::remove(PathFromText(JobPath()), ec);
    Log("-> Programare Valute: " + JobPathText() + " FARA VALUTE; FISIER STERS");
    if (ec) stuck_.insert(name);
    return;
  }
  if (!currencyFile && std::all_of(lines->begin(), lines->end(), IsBlank)) {
    if (!MoveJobTo(settings_.ERRDIR, &error)) {
      ReportOnce(name,
                 "-> EROARE !! FISIERUL GOL " + JobPathText() + " NU POATE FI MUTAT: " + error);
      stuck_.insert(name);
      return;
    }
    Log("-> EROARE !! FISIERUL GOL " + JobPathText() + " MUTAT IN DIRECTORUL " + settings_.ERRDIR);
    return;
  }

  host_.SetTrayIcon(kIconBusy);
  host_.SetTimerEnabled(false);
  phase_ = Phase::Queries;
  if (!link_.EnsurePortOpen(&error)) {
    OnPortError("portul nu poate fi deschis: " + error);
    return NoAnswer();
  }
  if (portProblem_) {
    portProblem_ = false;
    Log("-> PORT SERIAL " + settings_.COM + " FUNCTIONEAZA DIN NOU");
  }
  link_.SendQuery('T');
  if (link_.JobError == 1 && ExitRequested == 0) return NoAnswer();
  const double major =
      DecimalReading(link_.ReplyHex.size() >= 68 ? link_.ReplyHex.substr(66, 2) : "");
  const double minor =
      DecimalReading(link_.ReplyHex.size() >= 66 ? link_.ReplyHex.substr(64, 2) : "");
  NewFirmware = (major > 5 || (major == 5 && minor >= 7)) ? 1 : 0;
  // Once the exit is confirmed nothing more is sent for this job.
  if (ExitRequested == 0 && PreJobCheck() == PreJob::Filed) return;
  if (ExitRequested == 1) {
    phase_ = Phase::Idle;
    host_.UnloadMain();
    return;
  }
  if (link_.JobError != 0) return NoAnswer();
  phase_ = Phase::Lines;
  if (currencyFile) {
    RunCurrencyJob(*lines);
  } else {
    RunReceiptJob(*lines);
  }
}

ReceiptSpool::PreJob ReceiptSpool::PreJobCheck() {
  link_.SendQuery('S');
  const bool errorBits = HasErrorBits(StatusByte(link_.ReplyHex));
  if (ExitRequested == 1) return PreJob::GoOn;
  if (OperatorDecision == 0 && !errorBits) {
    const std::string byte6 = link_.ReplyHex.size() >= 12 ? link_.ReplyHex.substr(10, 2) : "";
    if (DecimalReading(byte6) != 1) SendKey(0x0F);
    return PreJob::GoOn;
  }
  switch (OperatorDecision) {
    case 1:
      for (char key : {0x00, 0x0F, 0x00, 0x3A, 0x31}) SendKey(key);
      OperatorDecision = 0;
      link_.JobError = 0;
      return PreJob::GoOn;
    case 2: {
      CancelSequence();
      link_.JobError = 0;
      OperatorDecision = 0;
      Log("-> EROARE !!  FISIERUL" + JobPathText() + " ANULAT SI MUTAT IN DIRECTORUL" +
          settings_.ERRDIR);
      std::string error;
      if (!MoveJobTo(settings_.ERRDIR, &error)) {
        Log("-> EROARE !! FISIERUL " + JobPathText() + " NU POATE FI MUTAT: " + error);
        stuck_.insert(JobFileName);
      }
      ClearJobRecord();
      EndJob();
      return PreJob::Filed;
    }
    default:
      CancelSequence();
      return PreJob::GoOn;
  }
}

void ReceiptSpool::CancelSequence() {
  SendKey(0x00);
  SendKey(0x0F);
  if (link_.SecondStatus != 0) {
    for (char key : {0x00, 0x3A, 0x31}) SendKey(key);
  }
}

void ReceiptSpool::SendKey(char key) {
  link_.SendKeys(std::string(1, key));
}

void ReceiptSpool::RunCurrencyJob(const std::vector<std::string>& lines) {
  Log("-> Programare Valute: ");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (!lines[i].empty()) TranslateCurrencyLine(lines[i], settings_, NewFirmware == 1, link_);
  }
  std::error_code ec;
  fs::remove(PathFromText(JobPath()), ec);
  if (ec) {
    // Programmed already: never again in this run, even though the file stays.
    Log("-> EROARE !! FISIERUL " + JobPathText() + " NU POATE FI STERS: " + ec.message());
    stuck_.insert(JobFileName);
  }
  EndJob();
}

void ReceiptSpool::RunReceiptJob(const std::vector<std::string>& lines) {
  Log("-> Inceput tiparire: " + JobPathText());
  RecordJob("PRINTING");
  for (const std::string& raw : lines) {
    const std::string_view line = TrimSpaces(raw);
    if (line.empty()) continue;
    const LineOutcome outcome = TranslateReceiptLine(line, settings_, NewFirmware == 1, link_);
    if (outcome == LineOutcome::ReceiptPrinted) return FileAsPrinted();
    if (outcome == LineOutcome::ReceiptFailed) return PrintError();
    // During the exit a failed command stops the receipt at once.
    if (ExitRequested == 1 && link_.JobError == 2) return StopForExit();
  }
  if (link_.JobError == 2) return PrintError();
  FileAsPrinted();
}

void ReceiptSpool::FileAsPrinted() {
  RecordJob("PRINTED");
  FilePrinted();
  EndJob();
}

void ReceiptSpool::FilePrinted() {
  std::string okError;
  if (MoveJobTo(settings_.OKDIR, &okError)) {
    Log("-> Sfirsit tiparire: " + JobPathText() + "; Mutare in directorul " + settings_.OKDIR);
  } else {
    // The receipt is printed: it must not be printed again, so it goes to the
    // error directory, or stays where it is and is skipped until a restart.
    Log("-> EROARE !! MUTARE " + JobPathText() + " IN DIRECTORUL " + settings_.OKDIR +
        " ESUATA: " + okError);
    std::string errError;
    if (MoveJobTo(settings_.ERRDIR, &errError)) {
      Log("-> Sfirsit tiparire: " + JobPathText() + "; Mutare in directorul " + settings_.ERRDIR);
    } else {
      // The record stays, so that a restart files it instead of printing it.
      Log("-> Sfirsit tiparire: " + JobPathText() + "; BON TIPARIT, FISIER NEMUTAT: " + errError);
      stuck_.insert(JobFileName);
      return;
    }
  }
  ClearJobRecord();
}

void ReceiptSpool::NoAnswer() {
  host_.SetTrayIcon(kIconError);
  Log("-> ERROR: LIPSA HIRTIE SAU CASA INCHISA !!");
  if (!host_.AskContinueWithoutRegister()) {
    host_.EndProgramNow();
    return;
  }
  Log("\t-> RE-INCERCARE...");
  EndJob();
}

void ReceiptSpool::PrintError() {
  if (ExitRequested == 1) return StopForExit();
  host_.SetTrayIcon(kIconError);
  Log("-> EROARE LA TIPARIRE BON " + JobPathText() + " !!!");
  host_.ShowPrintErrorDialog();
  EndJob();
}

void ReceiptSpool::StopForExit() {
  Log("-> EROARE LA TIPARIRE BON " + JobPathText() +
      " IN TIMPUL IESIRII; FISIERUL RAMINE IN DIRECTORUL " + settings_.BONDIR);
  phase_ = Phase::Idle;
  host_.UnloadMain();
}

void ReceiptSpool::OnErrorDialogButton(ErrorChoice choice) {
  switch (choice) {
    case ErrorChoice::Retry:
      Log("\t-> RE-INCEARCA...");
      OperatorDecision = 1;
      break;
    case ErrorChoice::CancelReceipt:
      Log("\t-> ANULARE BON...");
      OperatorDecision = 2;
      break;
    case ErrorChoice::GiveUp: {
      Log("\t-> RENUNTARE...");
      link_.JobError = 0;
      OperatorDecision = 0;
      Log("-> EROARE !! MUTARE " + JobPathText() + " IN DIRECTORUL " + settings_.ERRDIR);
      std::string error;
      if (!MoveJobTo(settings_.ERRDIR, &error)) {
        Log("-> EROARE !! FISIERUL " + JobPathText() + " NU POATE FI MUTAT: " + error);
        stuck_.insert(JobFileName);
      }
      ClearJobRecord();
      break;
    }
  }
}

void ReceiptSpool::EndJob() {
  phase_ = Phase::Idle;
  if (ExitRequested == 1) {
    host_.UnloadMain();
    return;
  }
  host_.SetTrayIcon(kIconIdle);
  host_.SetTimerEnabled(true);
}

bool ReceiptSpool::MoveJobTo(const std::string& dirSetting, std::string* error) {
  return MoveIntoDirectory(JobPath(), NativeDirectory(dirSetting), JobFileName, error);
}

void ReceiptSpool::RequestClearing() {
  if (ClearRequested == 0) ClearRequested = 1;
}

void ReceiptSpool::PerformClearing() {
  Log("-> EFECTUARE STERGERE: " + timestamp_());
  host_.SetTimerEnabled(false);
  phase_ = Phase::Clearing;
  link_.SendKeysLong("\x11\x45\x31");
  if (ExitRequested == 0) link_.SendKeysLong("\x0F");
  ClearRequested = 0;
  phase_ = Phase::Idle;
  if (ExitRequested == 1) {
    host_.UnloadMain();
    return;
  }
  host_.SetTimerEnabled(true);
}

void ReceiptSpool::RequestExit() {
  ExitRequested = 1;
  if (phase_ == Phase::Queries || phase_ == Phase::Clearing) link_.ReleaseWait();
}

}  // namespace ovix
