#include "spool/file_chooser.h"

#include "os/os.h"
#include "os/text.h"
#include "spool/spool_files.h"

namespace ovix {

namespace {
// How long a file that could not be read is left alone before it is tried again.
constexpr std::chrono::seconds kRetryDelay{5};
// How many files met for the first time one look stamps at the most.
constexpr int kFirstSightingsPerTick = 32;
}  // namespace

FileChooser::FileChooser(Env& env, const DriverSettings& settings, Clock& clock,
                         const EventLog& log, NeverAgainTest neverAgain)
    : env_(env),
      settings_(settings),
      clock_(clock),
      log_(log),
      neverAgain_(std::move(neverAgain)) {}

FileChooser::ScanResult FileChooser::Scan(LookKind kind) {
  Look look;
  look.dir = NativeDirectory(settings_.BONDIR);
  look.now = clock_.Now();
  bool wholeDirectory = true;
  // A directory that cannot be read is a look that found nothing.
  env_.ListDirectory(
      look.dir.empty() ? std::filesystem::path(".") : PathFromText(look.dir),
      [&](const DirEntry& entry) { return wholeDirectory = Visit(entry, kind, look); }, nullptr);
  return Conclude(kind, wholeDirectory, look);
}

bool FileChooser::Visit(const DirEntry& entry, LookKind kind, Look& look) {
  // A name the narrow file functions cannot spell could not be opened as a job.
  const std::optional<std::string> text = TextFromPath(entry.name);
  if (!text) return true;
  const std::string& name = *text;
  if (!CanBeJob(name) || entry.hidden) return true;
  if (entry.type != FileType::Regular || entry.symlink) return true;
  look.result.anyWaiting = true;
  if ((neverAgain_ && neverAgain_(name)) || StillSetAside(name, look)) return true;
  // A file still open for writing is never taken. One renamed in is taken
  // at once only when the system proves that nobody writes it any more;
  // otherwise it waits for two timer looks like a file written in place.
  if (arrived_.count(name)) {
    if (env_.CheckForWriter(PathFromText(look.dir + name)) == WriterCheck::NoWriter) {
      look.result.taken = name;
      return false;
    }
    arrived_.erase(name);
    look.heldByWriter = true;
  }
  if (kind == LookKind::Arrivals) return true;
  return CompareStamp(entry, name, look);
}

bool FileChooser::StillSetAside(const std::string& name, Look& look) {
  if (!SetAsideAt(name, look.now)) return false;
  look.setAside.insert(name);
  return true;
}

bool FileChooser::CompareStamp(const DirEntry& entry, const std::string& name, Look& look) {
  const Stamp stamp{entry.size, entry.modified};
  auto previous = seen_.find(name);
  if (previous != seen_.end() && previous->second == stamp) {
    if (env_.CheckForWriter(PathFromText(look.dir + name)) == WriterCheck::Writing) {
      // Unchanged but still open for writing: the writer is not done yet.
      ReportOnce(name, "-> FISIERUL " + settings_.BONDIR + VisibleText(name) +
                           " ESTE INCA DESCHIS PENTRU SCRIERE; SE ASTEAPTA INCHIDEREA");
      look.heldByWriter = true;
      look.visited[name] = stamp;
      return true;
    }
    look.result.taken = name;
    return false;
  }
  if (previous == seen_.end() && ++look.firstSightings > kFirstSightingsPerTick) return false;
  look.visited[name] = stamp;
  return true;
}

FileChooser::ScanResult FileChooser::Conclude(LookKind kind, bool wholeDirectory, Look& look) {
  ScanResult& result = look.result;
  if (kind == LookKind::Arrivals) {
    result.lookAgain = look.heldByWriter;
    return result;
  }
  if (wholeDirectory) {
    // Files that are gone are forgotten.
    seen_ = std::move(look.visited);
    std::erase_if(deferred_, [&](const auto& d) { return !look.setAside.count(d.first); });
    std::erase_if(arrived_, [&](const std::string& name) { return name != result.taken; });
  } else {
    for (auto& [name, stamp] : look.visited) seen_[name] = stamp;
    if (result.taken) seen_.erase(*result.taken);
  }
  result.lookAgain = !wholeDirectory || look.heldByWriter || !seen_.empty() || !deferred_.empty();
  return result;
}

bool FileChooser::CanBeJob(const std::string& name) const {
  return !name.empty() && name[0] != '.' && !IsOwnFile(name) &&
         MatchesMask(name, settings_.EXTENSIE);
}

bool FileChooser::IsOwnFile(const std::string& name) const {
  // The log, the wire trace and the journal never count as jobs, whatever
  // the mask.
  for (std::string_view own : {kLogFileName, kTraceFileName, kJournalFileName}) {
    if (MatchesMask(name, own) || MatchesMask(name, std::string(own) + ".tmp")) return true;
  }
  return false;
}

FileChooser::Presence FileChooser::Find(const std::string& name, std::string* error) const {
  FileStatus status;
  if (!env_.Status(PathFromText(NativeDirectory(settings_.BONDIR) + name), &status, error))
    return Presence::Unknown;
  return status.type == FileType::Regular && !status.symlink ? Presence::Here : Presence::Gone;
}

std::optional<FileChooser::ReadFile> FileChooser::Read(const std::string& name,
                                                       std::string* error) const {
  const std::string path = NativeDirectory(settings_.BONDIR) + name;
  std::optional<std::string> content = ReadFileBytes(env_, path, error);
  if (!content) return std::nullopt;
  // Without its modification time the identity would be another file's, and
  // the file's journal entry or decision would no longer know it.
  FileStatus status;
  if (!env_.Status(PathFromText(path), &status, error)) return std::nullopt;
  const FileIdentity identity =
      IdentityOf(*content, static_cast<std::int64_t>(status.modified.time_since_epoch().count()));
  return ReadFile{std::move(*content), identity};
}

bool FileChooser::NoteChange(SpoolChange change, const std::string& name) {
  switch (change) {
    case SpoolChange::Arrived:
      if (!CanBeJob(name)) return false;
      arrived_.insert(name);
      break;
    case SpoolChange::Changed:
      // Written after it arrived: read only once it stops changing.
      arrived_.erase(name);
      if (!CanBeJob(name)) return false;
      break;
    case SpoolChange::Unknown:
      arrived_.clear();
      break;
  }
  return true;
}

void FileChooser::ForgetArrivals() {
  arrived_.clear();
}

void FileChooser::Taken(const std::string& name) {
  arrived_.erase(name);
  reported_.erase(name);
}

void FileChooser::SetAside(const std::string& name, const std::string& line) {
  arrived_.erase(name);
  ReportOnce(name, line);
  deferred_[name] = clock_.Now() + kRetryDelay;
}

bool FileChooser::IsSetAside(const std::string& name) {
  return SetAsideAt(name, clock_.Now());
}

bool FileChooser::SetAsideAt(const std::string& name, std::chrono::nanoseconds now) {
  auto d = deferred_.find(name);
  if (d == deferred_.end()) return false;
  if (now < d->second) return true;
  deferred_.erase(d);
  return false;
}

void FileChooser::ReportOnce(const std::string& name, const std::string& line) {
  // A line that cannot be written is skipped: the job matters more than its record.
  if (reported_.insert(name).second) log_.WriteLogLine(line);
}

}  // namespace ovix
