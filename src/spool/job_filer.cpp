#include "spool/job_filer.h"

#include <optional>

#include "os/os.h"
#include "os/text.h"

namespace ovix {

JobFiler::JobFiler(Env& env, const DriverSettings& settings, const EventLog& log,
                   FileChooser& chooser)
    : env_(env),
      settings_(settings),
      log_(log),
      chooser_(chooser),
      journal_(env, NativeDirectory(settings.BONDIR) + std::string(kJournalFileName)) {}

std::string JobFiler::ForLog(const JobFileRef& file) const {
  return settings_.BONDIR + VisibleText(file.name);
}

std::string JobFiler::NativePath(const JobFileRef& file) const {
  return NativeDirectory(settings_.BONDIR) + file.name;
}

void JobFiler::Log(const std::string& line) {
  // A line that cannot be written is skipped: the job matters more than its record.
  log_.WriteLogLine(line);
}

void JobFiler::Record(const JobFileRef& file, JobState state) {
  std::string error;
  if (!journal_.Put({file.name, file.identity, state}, &error))
    Log("-> EROARE !! EVIDENTA BONULUI " + ForLog(file) + " NU POATE FI SCRISA: " + error);
}

void JobFiler::Forget(const std::string& name) {
  std::string error;
  if (!journal_.Remove(name, &error))
    Log("-> EROARE !! EVIDENTA " + journal_.Path() + " NU POATE FI STEARSA: " + error);
}

std::optional<std::vector<JournalEntry>> JobFiler::Recover() {
  std::string error;
  if (!journal_.Load(&error)) {
    if (!unreadReported_)
      Log("-> EROARE !! EVIDENTA " + journal_.Path() + " NU POATE FI CITITA: " + error);
    unreadReported_ = true;
    return std::nullopt;
  }
  std::vector<JournalEntry> needRegister;
  const std::vector<JournalEntry> entries = journal_.Entries();
  for (const JournalEntry& entry : entries) {
    if (RecoverEntry(entry)) needRegister.push_back(entry);
  }
  return needRegister;
}

bool JobFiler::RecoverEntry(const JournalEntry& entry) {
  const JobFileRef file{entry.name, entry.identity};
  const std::string bon = "-> RECUPERARE: BONUL " + ForLog(file);
  // The file the entry speaks of is still there (a file that cannot be read
  // or looked at now counts as it: the tick that takes it tells).
  std::string error;
  const std::optional<FileChooser::ReadFile> read = chooser_.Read(entry.name, &error);
  const bool there = chooser_.Find(entry.name) != FileChooser::Presence::Gone &&
                     (!read || entry.Matches(read->identity));
  switch (entry.state) {
    case JobState::Printed:
    case JobState::GivenUp: {
      const bool printed = entry.state == JobState::Printed;
      Log(bon + (printed ? std::string(" A FOST TIPARIT INAINTE DE OPRIRE")
                         : " NU SE MAI TIPARESTE; SE MUTA IN DIRECTORUL " + settings_.ERRDIR));
      if (!there) {
        Forget(entry.name);
      } else if (printed) {
        FileIntoOkDirectory(file);
      } else {
        FileIntoErrorDirectory(file);
      }
      return false;
    }
    case JobState::Cancelled:
      // The operator cancelled it and the driver stopped before carrying that out.
      Log(bon + " A FOST ANULAT; SE ANULEAZA PE CASA SI SE MUTA IN DIRECTORUL " + settings_.ERRDIR);
      return true;
    case JobState::Printing:
      // Cut off in the middle: the receipt is voided on the register, as a
      // retry does, before it is printed again.
      Log(bon + " A FOST INTRERUPT; SE ANULEAZA PE CASA SI SE TIPARESTE DIN NOU");
      return true;
    case JobState::Paying:
      // Whether the payment closed it, only the paper tells.
      Log(bon + " ERA LA PLATA LA OPRIRE; SE INTREABA OPERATORUL");
      return true;
  }
  return false;
}

bool JobFiler::FileIntoOkDirectory(const JobFileRef& file) {
  std::string error;
  if (MoveJobTo(file, settings_.OKDIR, &error)) {
    FiledIntoOkDirectory(file);
    return true;
  }
  // A printed receipt never goes to the error directory, where receipts wait
  // to be printed again: it stays in the spool with its entry until a later
  // move (RetryUnfiled) or the next start files it.
  Log("-> EROARE !! MUTARE " + ForLog(file) + " IN DIRECTORUL " + settings_.OKDIR +
      " ESUATA: " + error);
  KeepUnfiled(file, Target::OkDirectory);
  return false;
}

void JobFiler::FiledIntoOkDirectory(const JobFileRef& file) {
  // "Sfirsit" in the old spelling (not "Sfarsit") and in small letters: the
  // line as it always read, for whoever searches the log.
  Log("-> Sfirsit tiparire: " + ForLog(file) + "; Mutare in directorul " + settings_.OKDIR);
  Forget(file.name);
}

void JobFiler::KeepUnfiled(const JobFileRef& file, Target target) {
  chooser_.NeverAgain(file.name);
  std::erase_if(unfiled_, [&](const Unfiled& u) { return u.file.name == file.name; });
  unfiled_.push_back({file, target});
}

void JobFiler::RetryUnfiled() {
  std::string error;
  journal_.WriteAgain(&error);
  std::vector<Unfiled> still;
  for (const Unfiled& unfiled : unfiled_) {
    if (RetryOne(unfiled)) {
      chooser_.TakeAgain(unfiled.file.name);
    } else {
      still.push_back(unfiled);
    }
  }
  unfiled_ = std::move(still);
}

bool JobFiler::RetryOne(const Unfiled& unfiled) {
  const JobFileRef& file = unfiled.file;
  std::string error;
  const FileChooser::Presence presence = chooser_.Find(file.name);
  if (presence == FileChooser::Presence::Unknown) return false;
  const std::optional<FileChooser::ReadFile> read = chooser_.Read(file.name, &error);
  if (presence == FileChooser::Presence::Gone ||
      (read && file.identity && *file.identity != read->identity)) {
    // Gone, or another file took its name: nothing of this job is left to
    // file, and the new file is a job of its own.
    Forget(file.name);
    return true;
  }
  if (!read) return false;
  switch (unfiled.target) {
    case Target::OkDirectory:
      if (!MoveJobTo(file, settings_.OKDIR, &error)) return false;
      FiledIntoOkDirectory(file);
      return true;
    case Target::ErrorDirectory:
      if (!MoveJobTo(file, settings_.ERRDIR, &error)) return false;
      Log("-> FISIERUL " + ForLog(file) + " A FOST MUTAT IN DIRECTORUL " + settings_.ERRDIR);
      break;
    case Target::Deleted:
      if (!Delete(file, &error)) return false;
      Log("-> FISIERUL " + ForLog(file) + " A FOST STERS");
      break;
  }
  Forget(file.name);
  return true;
}

bool JobFiler::FileIntoErrorDirectory(const JobFileRef& file) {
  std::string error;
  if (!MoveJobTo(file, settings_.ERRDIR, &error)) {
    Log("-> EROARE !! FISIERUL " + ForLog(file) + " NU POATE FI MUTAT: " + error);
    KeepUnfiled(file, Target::ErrorDirectory);
    return false;
  }
  Forget(file.name);
  return true;
}

void JobFiler::FileEmptyFile(const JobFileRef& file, bool currency) {
  std::string error;
  if (currency) {
    if (!Delete(file, &error)) {
      Log("-> Programare Valute: " + ForLog(file) +
          " FARA VALUTE; FISIERUL NU POATE FI STERS: " + error);
      KeepUnfiled(file, Target::Deleted);
    } else {
      Log("-> Programare Valute: " + ForLog(file) + " FARA VALUTE; FISIER STERS");
    }
  } else if (!MoveJobTo(file, settings_.ERRDIR, &error)) {
    chooser_.ReportOnce(
        file.name, "-> EROARE !! FISIERUL GOL " + ForLog(file) + " NU POATE FI MUTAT: " + error);
    KeepUnfiled(file, Target::ErrorDirectory);
  } else {
    Log("-> EROARE !! FISIERUL GOL " + ForLog(file) + " MUTAT IN DIRECTORUL " + settings_.ERRDIR);
  }
  Forget(file.name);
}

void JobFiler::DeleteProgrammedFile(const JobFileRef& file) {
  std::string error;
  if (!Delete(file, &error)) {
    // Programmed already: never programmed again, even though the file stays.
    Log("-> EROARE !! FISIERUL " + ForLog(file) + " NU POATE FI STERS: " + error);
    KeepUnfiled(file, Target::Deleted);
  }
}

bool JobFiler::Delete(const JobFileRef& file, std::string* error) {
  return env_.RemoveFile(PathFromText(NativePath(file)), error);
}

bool JobFiler::MoveJobTo(const JobFileRef& file, const std::string& dirSetting,
                         std::string* error) {
  return MoveIntoDirectory(env_, NativePath(file), NativeDirectory(dirSetting), file.name, error);
}

}  // namespace ovix
