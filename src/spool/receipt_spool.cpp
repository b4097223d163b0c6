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
                           DriverHost& host, Clock& clock, Timestamp timestamp)
    : settings_(settings),
      link_(link),
      log_(log),
      host_(host),
      clock_(clock),
      timestamp_(std::move(timestamp)) {}

std::string ReceiptSpool::JobPathText() const {
  return settings_.BONDIR + VisibleText(JobFileName);
}

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

ReceiptSpool::ScanResult ReceiptSpool::Scan() {
  const std::string dir = NativeDirectory(settings_.BONDIR);
  const std::chrono::nanoseconds now = clock_.Now();
  std::error_code ec;
  fs::directory_iterator it(dir.empty() ? fs::path(".") : PathFromText(dir), ec);
  std::map<std::string, Stamp> visited;
  ScanResult result;
  std::optional<std::string>& taken = result.taken;
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
    if (!it->is_regular_file(statEc) || it->is_symlink(statEc)) continue;
    result.anyWaiting = true;
    if (stuck_.count(name)) continue;
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
  return result;
}

std::optional<ReceiptSpool::Stamp> ReceiptSpool::StampOf(const std::string& name) const {
  std::error_code ec;
  const fs::path path = PathFromText(NativeDirectory(settings_.BONDIR) + name);
  const fs::file_status status = fs::symlink_status(path, ec);
  if (ec || !fs::is_regular_file(status)) return std::nullopt;
  Stamp stamp{fs::file_size(path, ec), {}};
  if (!ec) stamp.modified = fs::last_write_time(path, ec);
  if (ec) return std::nullopt;
  return stamp;
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
  if (WriteFileDurably(path, std::string(state) + " " + VisibleText(JobFileName, true) + "\n",
                       &error))
    return true;
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
  JobFileName = UnescapeText(record.substr(blank + 1));
  if (state == "PRINTED") {
    Log("-> RECUPERARE: BONUL " + JobPathText() + " A FOST TIPARIT INAINTE DE OPRIRE");
    if (fs::exists(PathFromText(JobPath()))) {
      FilePrinted();
    } else {
      ClearJobRecord();
    }
    return;
  }
  if (state == "CANCEL") {
    // The operator cancelled it and the driver stopped before carrying that out.
    Log("-> RECUPERARE: BONUL " + JobPathText() +
        " A FOST ANULAT; SE ANULEAZA PE CASA SI SE MUTA IN DIRECTORUL " + settings_.ERRDIR);
    OperatorDecision = 2;
  } else {
    // Cut off in the middle: the next job tick clears the half-printed receipt
    // on the register, as a retry would, before printing it again.
    Log("-> RECUPERARE: BONUL " + JobPathText() +
        " A FOST INTRERUPT; SE ANULEAZA PE CASA SI SE TIPARESTE DIN NOU");
    OperatorDecision = 1;
  }
  retake_ = JobFileName;
  retakeStamp_.reset();
}

void ReceiptSpool::OnPortError(const std::string& reason) {
  if (portProblem_) return;
  portProblem_ = true;
  Log("-> EROARE PORT SERIAL " + settings_.COM + ": " + reason);
}

void ReceiptSpool::Tick() {
  if (phase_ != Phase::Idle) return;
  if (retake_) return Retake();
  const ScanResult scan = Scan();
  if (scan.taken) {
    RunJob(*scan.taken);
  } else if (!scan.anyWaiting && ClearRequested == 1) {
    // A clearing never comes between a receipt and its retry, nor before a
    // file that is still being written or cannot be taken yet.
    PerformClearing();
  }
}

void ReceiptSpool::Retake() {
  const std::string name = *retake_;
  const std::optional<Stamp> stamp = StampOf(name);
  if (!stamp) {
    JobFileName = name;
    return VoidForGoneFile();
  }
  if (auto d = deferred_.find(name); d != deferred_.end()) {
    if (clock_.Now() < d->second) {
      // Without a decision no other file can be wronged: the rest go on.
      if (OperatorDecision == 0) retake_.reset();
      return;
    }
    deferred_.erase(d);
  }
  // A file rewritten since it failed is read only once it stopped changing.
  if (retakeStamp_ && *retakeStamp_ != *stamp) {
    retakeStamp_ = stamp;
    return;
  }
  RunJob(name);
}

void ReceiptSpool::RunJob(const std::string& name) {
  JobFileName = name;
  std::string error;
  std::optional<std::vector<std::string>> lines = ReadLines(JobPath(), &error);
  if (!lines) {
    ReportOnce(name, "-> EROARE !! FISIERUL " + JobPathText() + " NU POATE FI CITIT: " + error);
    deferred_[name] = clock_.Now() + kRetryDelay;
    return;
  }
  takenStamp_ = StampOf(name);
  retake_.reset();
  reported_.erase(name);
  const bool currencyFile = !lines->empty() && settings_.CHPROGVAL.size() == 1 &&
                            !lines->front().empty() && lines->front()[0] == settings_.CHPROGVAL[0];
  // A file with nothing to send is filed at once, without talking to the
  // register, unless a decision for it is still to be carried out there.
  const bool nothingToSend = currencyFile
                                 ? std::all_of(lines->begin() + 1, lines->end(),
                                               [](const std::string& l) { return l.empty(); })
                                 : std::all_of(lines->begin(), lines->end(), IsBlank);
  if (nothingToSend && OperatorDecision == 0) {
    if (currencyFile) {
      std::error_code ec;
      fs::remove(PathFromText(JobPath()), ec);
      if (ec) {
        Log("-> Programare Valute: " + JobPathText() +
            " FARA VALUTE; FISIERUL NU POATE FI STERS: " + ec.message());
        stuck_.insert(name);
      } else {
        Log("-> Programare Valute: " + JobPathText() + " FARA VALUTE; FISIER STERS");
      }
    } else if (!MoveJobTo(settings_.ERRDIR, &error)) {
      ReportOnce(name,
                 "-> EROARE !! FISIERUL GOL " + JobPathText() + " NU POATE FI MUTAT: " + error);
      stuck_.insert(name);
    } else {
      Log("-> EROARE !! FISIERUL GOL " + JobPathText() + " MUTAT IN DIRECTORUL " +
          settings_.ERRDIR);
    }
    return;
  }

  if (!StartJob()) return;
  switch (PreJobCheck()) {
    case PreJob::Ended:
      return;
    case PreJob::Cancelled:
      return FileCancelled();
    case PreJob::GoOn:
      break;
  }
  phase_ = Phase::Lines;
  if (currencyFile) {
    RunCurrencyJob(*lines);
  } else {
    RunReceiptJob(*lines);
  }
}

void ReceiptSpool::VoidForGoneFile() {
  const std::string gone = "-> EROARE !! FISIERUL " + JobPathText() + " NU MAI EXISTA";
  if (OperatorDecision == 0) {
    Log(gone);
    retake_.reset();
    ClearJobRecord();
    return;
  }
  // The receipt it left unfinished on the register is voided all the same,
  // so that the next receipt does not land in it.
  retake_.reset();
  if (!StartJob() || PreJobCheck() == PreJob::Ended) return;
  Log(gone + "; BONUL NETERMINAT A FOST ANULAT PE CASA");
  ClearJobRecord();
  EndJob();
}

bool ReceiptSpool::StartJob() {
  host_.SetTrayIcon(kIconBusy);
  host_.SetTimerEnabled(false);
  phase_ = Phase::Queries;
  std::string error;
  if (!link_.EnsurePortOpen(&error)) {
    OnPortError("portul nu poate fi deschis: " + error);
    NoAnswer();
    return false;
  }
  if (portProblem_) {
    portProblem_ = false;
    Log("-> PORT SERIAL " + settings_.COM + " FUNCTIONEAZA DIN NOU");
  }
  link_.SendQuery('T');
  // Once the exit is confirmed nothing more is sent for this job.
  if (ExitRequested == 1) {
    EndJob();
    return false;
  }
  if (link_.JobError == 1) {
    NoAnswer();
    return false;
  }
  const double major =
      DecimalReading(link_.ReplyHex.size() >= 68 ? link_.ReplyHex.substr(66, 2) : "");
  const double minor =
      DecimalReading(link_.ReplyHex.size() >= 66 ? link_.ReplyHex.substr(64, 2) : "");
  NewFirmware = (major > 5 || (major == 5 && minor >= 7)) ? 1 : 0;
  return true;
}

ReceiptSpool::PreJob ReceiptSpool::PreJobCheck() {
  link_.SendQuery('S');
  if (ExitRequested == 1) {
    EndJob();
    return PreJob::Ended;
  }
  // Without a status reply there is nothing to test (the reply text is still
  // the identification's): a pending decision waits for an answer.
  if (link_.JobError == 1) {
    NoAnswer();
    return PreJob::Ended;
  }
  const bool errorBits = HasErrorBits(StatusByte(link_.ReplyHex));
  bool answered = true;
  switch (OperatorDecision) {
    case 0:
      if (errorBits) {
        CancelSequence();
      } else {
        const std::string byte6 = link_.ReplyHex.size() >= 12 ? link_.ReplyHex.substr(10, 2) : "";
        if (DecimalReading(byte6) != 1) SendKeys({0x0F});
      }
      break;
    case 1:
      answered = SendKeys({0x00, 0x0F, 0x00, 0x3A, 0x31});
      break;
    default:
      answered = CancelSequence();
      break;
  }
  if (ExitRequested == 1) {
    EndJob();
    return PreJob::Ended;
  }
  if (OperatorDecision != 0) {
    // A decision counts as carried out only when the register answered every
    // key of it (a refusal is an answer); otherwise it waits for the register.
    if (!answered) {
      NoAnswer();
      return PreJob::Ended;
    }
    const bool cancel = OperatorDecision == 2;
    OperatorDecision = 0;
    link_.JobError = 0;
    return cancel ? PreJob::Cancelled : PreJob::GoOn;
  }
  if (link_.JobError != 0) {
    NoAnswer();
    return PreJob::Ended;
  }
  return PreJob::GoOn;
}

void ReceiptSpool::FileCancelled() {
  Log("-> EROARE !!  FISIERUL" + JobPathText() + " ANULAT SI MUTAT IN DIRECTORUL" +
      settings_.ERRDIR);
  std::string error;
  if (!MoveJobTo(settings_.ERRDIR, &error)) {
    Log("-> EROARE !! FISIERUL " + JobPathText() + " NU POATE FI MUTAT: " + error);
    stuck_.insert(JobFileName);
  }
  ClearJobRecord();
  EndJob();
}

// True when the register answered the keys of the cancel sequence.
bool ReceiptSpool::CancelSequence() {
  bool answered = SendKeys({0x00, 0x0F});
  if (link_.SecondStatus != 0) answered = SendKeys({0x00, 0x3A, 0x31}) && answered;
  return answered;
}

// Sends each key as a command of its own, whatever the one before gave; stops
// once the exit is confirmed. True when every key was answered.
bool ReceiptSpool::SendKeys(std::initializer_list<char> keys) {
  bool answered = true;
  for (char key : keys) {
    if (ExitRequested == 1) return false;
    const Exchange exchange = link_.Send(std::string(1, key));
    answered = answered && (exchange == Exchange::Reply || exchange == Exchange::Refused);
  }
  return answered;
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
    // A credit payment closes the receipt only when the register carried out
    // it and every line before it; otherwise the receipt failed.
    if (outcome == LineOutcome::ReceiptPrinted)
      return link_.JobError == 0 ? FileAsPrinted() : PrintError();
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
  const bool goOn = host_.AskContinueWithoutRegister();
  // The exit closed the box: the operator did not choose to go on.
  if (ExitRequested == 1) return EndJob();
  if (!goOn) {
    host_.EndProgramNow();
    return;
  }
  Log("\t-> RE-INCERCARE...");
  RetakeNext();
  EndJob();
}

void ReceiptSpool::RetakeNext() {
  retake_ = JobFileName;
  retakeStamp_ = takenStamp_;
}

void ReceiptSpool::PrintError() {
  if (ExitRequested == 1) return StopForExit();
  host_.SetTrayIcon(kIconError);
  Log("-> EROARE LA TIPARIRE BON " + JobPathText() + " !!!");
  // Unless the operator gives it up, the file is taken again first.
  RetakeNext();
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
      // So that a restart cancels it too, instead of printing it again.
      RecordJob("CANCEL");
      break;
    case ErrorChoice::GiveUp: {
      Log("\t-> RENUNTARE...");
      link_.JobError = 0;
      OperatorDecision = 0;
      retake_.reset();
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
