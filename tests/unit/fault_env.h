// An Env for tests that counts, fails and "crashes" the calls of the code
// under test, and can then cut the power.
//
// Points. Every call through the FaultEnv is one point, numbered from 1 in
// the order of the calls, with a label such as "rename spool/a.TXT ->
// ok/a.TXT" in Points(): reads, listings, status calls and writer checks
// count, and so do Append, Sync and Close of the files it opened. Now() does
// not count: the wall clock reads no file. A test runs a scenario once to
// learn its points, then again with a fault at each of them.
//
// FailOnce(k, fault): point k fails with that system error (its reason text
// in *error) and does nothing; the points after it run.
// CrashAt(k): from point k on, the process is dead: every call fails with
// kCrashReason and does nothing, so a driver that goes on running after the
// crash point leaves the disk as the crash did. Revive() lets calls through
// again, as a restarted process on the same disk.
//
// DropUnsyncedData(): the power cut after a crash. What the FaultEnv saw made
// durable stays, everything else is undone, newest first:
//  - the data of a file opened for writing or appending (or made by
//    CopyFile) since its last Sync/SyncFile is put back to what it held
//    before; a file that did not exist then is removed;
//  - the entries made since the last SyncDirectory of their directory are
//    undone: a file created there is removed, a rename into it is renamed
//    back (the file it replaced gets its content back), a removed file comes
//    back. A rename counts as durable once the directory it went into is
//    flushed; the flush of the directory it left plays no part.
// Directories made by CreateDirectories stay. Files the FaultEnv did not see
// written count as durable. The undoing goes to the target Env directly.
#pragma once

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "os/env.h"

namespace ovix::test {

// EIO, ENOSPC, EACCES; CrossDevice (EXDEV) fails a rename as one across
// file systems does, and fails any other call as EXDEV.
enum class Fault { Io, NoSpace, Access, CrossDevice };

inline std::string FaultReason(Fault fault) {
  const int codes[] = {EIO, ENOSPC, EACCES, EXDEV};
  return std::generic_category().message(codes[static_cast<int>(fault)]);
}

inline constexpr const char* kCrashReason = "proces oprit (simulare)";

class FaultEnv : public EnvWrapper {
 public:
  explicit FaultEnv(Env& target) : EnvWrapper(target) {}

  const std::vector<std::string>& Points() const { return points_; }
  std::size_t Count() const { return points_.size(); }
  void FailOnce(std::size_t k, Fault fault) { failures_[k] = fault; }
  void CrashAt(std::size_t k) { crashAt_ = k; }
  bool Crashed() const { return crashAt_ != 0 && points_.size() >= crashAt_; }
  void Revive() { crashAt_ = 0; }
  inline void DropUnsyncedData();

  std::optional<std::string> ReadFile(const std::filesystem::path& path,
                                      std::string* error) override {
    if (!Step("read " + Label(path), error)) return std::nullopt;
    return Target().ReadFile(path, error);
  }
  std::unique_ptr<WritableFile> NewWritableFile(const std::filesystem::path& path,
                                                std::string* error) override {
    return Open("open-write ", path, error, false);
  }
  std::unique_ptr<WritableFile> NewAppendableFile(const std::filesystem::path& path,
                                                  std::string* error) override {
    return Open("open-append ", path, error, true);
  }
  bool SyncFile(const std::filesystem::path& path, std::string* error) override {
    if (!Step("sync " + Label(path), error) || !Target().SyncFile(path, error)) return false;
    data_.erase(Key(path));
    return true;
  }
  bool ListDirectory(const std::filesystem::path& dir, const Visitor& visit,
                     std::string* error) override {
    return Step("list " + Label(dir), error) && Target().ListDirectory(dir, visit, error);
  }
  bool CreateDirectories(const std::filesystem::path& dir, std::string* error) override {
    return Step("mkdir " + Label(dir), error) && Target().CreateDirectories(dir, error);
  }
  inline bool SyncDirectory(const std::filesystem::path& dir, std::string* error) override;
  inline bool RemoveFile(const std::filesystem::path& path, std::string* error) override;
  inline bool RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                              std::string* error, bool* crossDevice = nullptr) override;
  inline bool CopyFile(const std::filesystem::path& from, const std::filesystem::path& to,
                       std::string* error) override;
  bool Status(const std::filesystem::path& path, FileStatus* status, std::string* error) override {
    *status = FileStatus{};
    return Step("status " + Label(path), error) && Target().Status(path, status, error);
  }
  WriterCheck CheckForWriter(const std::filesystem::path& path) override {
    if (!Step("writer-check " + Label(path), nullptr)) return WriterCheck::Unknown;
    return Target().CheckForWriter(path);
  }
  std::filesystem::path AbsolutePath(const std::filesystem::path& path) override {
    if (!Step("absolute " + Label(path), nullptr)) return path;
    return Target().AbsolutePath(path);
  }

  // One point: false (with the reason) when it fails or the process is dead.
  bool Step(std::string label, std::string* error) {
    points_.push_back(std::move(label));
    lastFault_.reset();
    const std::size_t k = points_.size();
    if (Crashed()) return Refuse(kCrashReason, error);
    const auto failure = failures_.find(k);
    if (failure == failures_.end()) return true;
    lastFault_ = failure->second;
    failures_.erase(failure);
    return Refuse(FaultReason(*lastFault_), error);
  }
  // The data of `key` became durable as it is on the disk now.
  void DataSynced(const std::filesystem::path& key) { data_.erase(key); }

  // "spool/a.TXT": the last two parts of a path, as the labels show it.
  static std::string Label(const std::filesystem::path& path) {
    const std::filesystem::path key = Key(path);
    return (key.parent_path().filename() / key.filename()).generic_string();
  }
  // The path a record of the FaultEnv is kept under: absolute, normalised,
  // without a trailing separator.
  static std::filesystem::path Key(const std::filesystem::path& path) {
    std::filesystem::path key = std::filesystem::absolute(path).lexically_normal();
    return key.has_filename() ? key : key.parent_path();
  }

 private:
  // A change of directory entries not yet flushed with its directory.
  struct EntryChange {
    enum class Kind { Created, Renamed, Removed } kind;
    std::filesystem::path dir;           // the directory whose flush makes it durable
    std::filesystem::path path;          // the entry made, renamed to or removed
    std::filesystem::path from;          // Renamed: where it came from
    std::optional<std::string> content;  // the replaced (Renamed) or removed file's bytes
  };

  static bool Refuse(const std::string& reason, std::string* error) {
    if (error) *error = reason;
    return false;
  }
  std::optional<std::string> Content(const std::filesystem::path& key) {
    if (const auto tracked = data_.find(key); tracked != data_.end()) return tracked->second;
    return Target().ReadFile(key, nullptr);
  }
  bool Exists(const std::filesystem::path& key) {
    FileStatus status;
    return Target().Status(key, &status, nullptr) && status.type != FileType::Missing;
  }
  // Before `key` is written: remembers its durable content, and its
  // creation when it is missing.
  void WillWrite(const std::filesystem::path& key) {
    if (data_.count(key)) return;
    const bool existed = Exists(key);
    data_[key] = existed ? Target().ReadFile(key, nullptr) : std::nullopt;
    if (!existed) changes_.push_back({EntryChange::Kind::Created, key.parent_path(), key, {}, {}});
  }
  inline std::unique_ptr<WritableFile> Open(const char* what, const std::filesystem::path& path,
                                            std::string* error, bool append);
  inline void Restore(const std::filesystem::path& key, const std::optional<std::string>& content);
  inline void Undo(const EntryChange& change);

  std::vector<std::string> points_;
  std::map<std::size_t, Fault> failures_;
  std::size_t crashAt_ = 0;         // 0: never
  std::optional<Fault> lastFault_;  // the fault of the latest point, if any
  // Files written since their last flush: the content they held before
  // (nullopt: they did not exist).
  std::map<std::filesystem::path, std::optional<std::string>> data_;
  std::vector<EntryChange> changes_;
};

// A file of the FaultEnv: each call is a point of its Env.
class FaultFile : public WritableFile {
 public:
  FaultFile(FaultEnv& env, std::filesystem::path key, std::unique_ptr<WritableFile> file)
      : env_(env), key_(std::move(key)), file_(std::move(file)) {}
  bool Append(std::string_view bytes, std::string* error) override {
    return env_.Step(
               "append " + FaultEnv::Label(key_) + " (" + std::to_string(bytes.size()) + " B)",
               error) &&
           file_->Append(bytes, error);
  }
  bool Sync(std::string* error) override {
    if (!env_.Step("fsync " + FaultEnv::Label(key_), error) || !file_->Sync(error)) return false;
    env_.DataSynced(key_);
    return true;
  }
  bool Close(std::string* error) override {
    return env_.Step("close " + FaultEnv::Label(key_), error) && file_->Close(error);
  }

 private:
  FaultEnv& env_;
  std::filesystem::path key_;
  std::unique_ptr<WritableFile> file_;
};

std::unique_ptr<WritableFile> FaultEnv::Open(const char* what, const std::filesystem::path& path,
                                             std::string* error, bool append) {
  if (!Step(what + Label(path), error)) return nullptr;
  const std::filesystem::path key = Key(path);
  WillWrite(key);
  std::unique_ptr<WritableFile> file =
      append ? Target().NewAppendableFile(path, error) : Target().NewWritableFile(path, error);
  if (!file) return nullptr;
  return std::make_unique<FaultFile>(*this, key, std::move(file));
}

bool FaultEnv::SyncDirectory(const std::filesystem::path& dir, std::string* error) {
  if (!Step("sync-dir " + Label(dir), error) || !Target().SyncDirectory(dir, error)) return false;
  const std::filesystem::path key = Key(dir);
  std::erase_if(changes_, [&](const EntryChange& c) { return c.dir == key; });
  return true;
}

bool FaultEnv::RemoveFile(const std::filesystem::path& path, std::string* error) {
  if (!Step("remove " + Label(path), error)) return false;
  const std::filesystem::path key = Key(path);
  const bool existed = Exists(key);
  const std::optional<std::string> content = existed ? Content(key) : std::nullopt;
  if (!Target().RemoveFile(path, error)) return false;
  data_.erase(key);
  if (existed)
    changes_.push_back({EntryChange::Kind::Removed, key.parent_path(), key, {}, content});
  return true;
}

bool FaultEnv::RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                               std::string* error, bool* crossDevice) {
  if (crossDevice) *crossDevice = false;
  if (!Step("rename " + Label(from) + " -> " + Label(to), error)) {
    if (crossDevice) *crossDevice = lastFault_ == Fault::CrossDevice;
    return false;
  }
  const std::filesystem::path source = Key(from), target = Key(to);
  const std::optional<std::string> replaced =
      Exists(target) ? Content(target) : std::optional<std::string>();
  if (!Target().RenameReplacing(from, to, error, crossDevice)) return false;
  data_.erase(target);
  if (const auto tracked = data_.find(source); tracked != data_.end()) {
    data_[target] = tracked->second;
    data_.erase(source);
  }
  changes_.push_back({EntryChange::Kind::Renamed, target.parent_path(), target, source, replaced});
  return true;
}

bool FaultEnv::CopyFile(const std::filesystem::path& from, const std::filesystem::path& to,
                        std::string* error) {
  if (!Step("copy " + Label(from) + " -> " + Label(to), error)) return false;
  WillWrite(Key(to));
  return Target().CopyFile(from, to, error);
}

void FaultEnv::Restore(const std::filesystem::path& key,
                       const std::optional<std::string>& content) {
  if (!content) {
    Target().RemoveFile(key, nullptr);
    return;
  }
  if (std::unique_ptr<WritableFile> file = Target().NewWritableFile(key, nullptr)) {
    file->Append(*content, nullptr);
    file->Close(nullptr);
  }
}

void FaultEnv::Undo(const EntryChange& change) {
  switch (change.kind) {
    case EntryChange::Kind::Created:
      Target().RemoveFile(change.path, nullptr);
      break;
    case EntryChange::Kind::Renamed:
      Target().RenameReplacing(change.path, change.from, nullptr);
      if (change.content) Restore(change.path, change.content);
      break;
    case EntryChange::Kind::Removed:
      Restore(change.path, change.content);
      break;
  }
}

void FaultEnv::DropUnsyncedData() {
  for (const auto& [key, content] : data_) Restore(key, content);
  data_.clear();
  for (auto change = changes_.rbegin(); change != changes_.rend(); ++change) Undo(*change);
  changes_.clear();
}

}  // namespace ovix::test
