// The file system and the wall clock as the core sees them: one interface,
// so that a test can put a wrapper between the core and the system that
// counts, fails or "crashes" every call (tests/unit/fault_env.h). SystemEnv()
// is the real one; the core's objects take an Env by reference and never own
// it. The monotonic Clock of os/platform.h is not part of it: it times
// waits on the line and retry pauses, not files, and already has fakes of
// its own.
//
// Every call that can fail reports it the same way: false (or an empty
// result) with the reason in *error; `error` may be nullptr where the caller
// has no use for it. No call throws. Paths are filesystem paths, made from
// the settings' texts with PathFromText (os/os.h). Not thread-safe: the core
// calls it from the GUI thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "os/os.h"

namespace ovix {

// A file opened for writing by an Env. Closed (without a report) when it goes
// away unclosed.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Writes every byte and hands them to the system (not yet to the disk).
  virtual bool Append(std::string_view bytes, std::string* error) = 0;
  // Makes what was appended durable: flushes the file's data to the disk.
  virtual bool Sync(std::string* error) = 0;
  // Closes the file; false when the close reports that written data was
  // lost. Nothing more may be appended afterwards.
  virtual bool Close(std::string* error) = 0;
};

// Whether some process still has a file open for writing, as far as the
// system lets the driver tell.
enum class WriterCheck {
  NoWriter,  // proven: nobody has it open for writing now
  Writing,   // proven: a process has it open for writing
  Unknown,   // the system gives no proof here (not the file's owner, an
             // unsupported file system, the file gone)
};

enum class FileType { Missing, Regular, Directory, Other };

// What Status tells of a path, links followed; `symlink` tells whether the
// path itself is a symbolic link.
struct FileStatus {
  FileType type = FileType::Missing;
  bool symlink = false;
  std::uintmax_t size = 0;  // bytes; 0 unless a regular file
  std::filesystem::file_time_type modified{};
};

// One entry of a directory listing, links not followed.
struct DirEntry {
  std::filesystem::path name;  // the entry's name alone
  FileType type = FileType::Other;
  bool symlink = false;
  // Passed over by the spool scan for its attributes: on Windows marked
  // hidden or system; never on POSIX.
  bool hidden = false;
  std::uintmax_t size = 0;  // bytes; read for regular files only
  std::filesystem::file_time_type modified{};
};

class Env {
 public:
  using Visitor = std::function<bool(const DirEntry&)>;
  using TimePoint = std::chrono::system_clock::time_point;

  virtual ~Env() = default;

  // Every byte of the file.
  virtual std::optional<std::string> ReadFile(const std::filesystem::path& path,
                                              std::string* error) = 0;
  // Creates or truncates the file. The file is shared with its directory's
  // group: when that directory is writable by its group, the file gets the
  // group (where the process belongs to it) and is made readable and
  // writable by it, so that every user of a shared spool can go on writing
  // and replacing it. Nothing to share on Windows.
  virtual std::unique_ptr<WritableFile> NewWritableFile(const std::filesystem::path& path,
                                                        std::string* error) = 0;
  // Opens the file for appending, creating (and sharing) it when missing.
  virtual std::unique_ptr<WritableFile> NewAppendableFile(const std::filesystem::path& path,
                                                          std::string* error) = 0;
  // Flushes the data of a closed file to the disk.
  virtual bool SyncFile(const std::filesystem::path& path, std::string* error) = 0;

  // Calls `visit` for each entry of `dir` but "." and ".." until it returns
  // false. False when the directory cannot be read (entries may have been
  // visited before a failure).
  virtual bool ListDirectory(const std::filesystem::path& dir, const Visitor& visit,
                             std::string* error) = 0;
  // Creates the directory and its missing parents; true when it exists.
  virtual bool CreateDirectories(const std::filesystem::path& dir, std::string* error) = 0;
  // Flushes a directory's entries (creations, renames, removals) to the disk.
  // True where the system or the file system offers no such call.
  virtual bool SyncDirectory(const std::filesystem::path& dir, std::string* error) = 0;

  // Removes a file; true when it is gone, a file that was not there included.
  virtual bool RemoveFile(const std::filesystem::path& path, std::string* error) = 0;
  // Renames `from` over `to`, replacing a file there. *crossDevice (when
  // given) tells whether it failed because the two are on different file
  // systems. On Windows a move across volumes becomes a copy instead, and
  // the call returns once the move is on the disk.
  virtual bool RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                               std::string* error, bool* crossDevice = nullptr) = 0;
  // Copies the bytes of `from` to `to`, replacing a file there; the copy is
  // shared with its directory's group. Not flushed to the disk.
  virtual bool CopyFile(const std::filesystem::path& from, const std::filesystem::path& to,
                        std::string* error) = 0;

  // The path's status; false only when it cannot be read (a missing path is
  // FileType::Missing, and true).
  virtual bool Status(const std::filesystem::path& path, FileStatus* status,
                      std::string* error) = 0;
  // Whether a process holds the file open for writing. On Linux by a read
  // lease, which the kernel refuses while any process holds the file open for
  // writing (only the file's owner, or a process with CAP_LEASE, may take
  // one; the lease is let go at once, and its break signal is one that is
  // ignored by default). On Windows by an open that denies writers, which
  // fails while a writer holds the file.
  virtual WriterCheck CheckForWriter(const std::filesystem::path& path) = 0;
  // The path made absolute: with links resolved when it exists, else
  // lexically normalised; the path as given when neither works.
  virtual std::filesystem::path AbsolutePath(const std::filesystem::path& path) = 0;

  // The wall-clock time, for the time stamps of the log and the wire trace.
  virtual TimePoint Now() = 0;
};

// The Env of this system. Lives as long as the program.
Env& SystemEnv();

// An Env that hands every call to `target`, which must outlive it; a wrapper
// overrides the calls it changes.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}
  Env& Target() const { return target_; }

  std::optional<std::string> ReadFile(const std::filesystem::path& path,
                                      std::string* error) override {
    return target_.ReadFile(path, error);
  }
  std::unique_ptr<WritableFile> NewWritableFile(const std::filesystem::path& path,
                                                std::string* error) override {
    return target_.NewWritableFile(path, error);
  }
  std::unique_ptr<WritableFile> NewAppendableFile(const std::filesystem::path& path,
                                                  std::string* error) override {
    return target_.NewAppendableFile(path, error);
  }
  bool SyncFile(const std::filesystem::path& path, std::string* error) override {
    return target_.SyncFile(path, error);
  }
  bool ListDirectory(const std::filesystem::path& dir, const Visitor& visit,
                     std::string* error) override {
    return target_.ListDirectory(dir, visit, error);
  }
  bool CreateDirectories(const std::filesystem::path& dir, std::string* error) override {
    return target_.CreateDirectories(dir, error);
  }
  bool SyncDirectory(const std::filesystem::path& dir, std::string* error) override {
    return target_.SyncDirectory(dir, error);
  }
  bool RemoveFile(const std::filesystem::path& path, std::string* error) override {
    return target_.RemoveFile(path, error);
  }
  bool RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                       std::string* error, bool* crossDevice = nullptr) override {
    return target_.RenameReplacing(from, to, error, crossDevice);
  }
  bool CopyFile(const std::filesystem::path& from, const std::filesystem::path& to,
                std::string* error) override {
    return target_.CopyFile(from, to, error);
  }
  bool Status(const std::filesystem::path& path, FileStatus* status, std::string* error) override {
    return target_.Status(path, status, error);
  }
  WriterCheck CheckForWriter(const std::filesystem::path& path) override {
    return target_.CheckForWriter(path);
  }
  std::filesystem::path AbsolutePath(const std::filesystem::path& path) override {
    return target_.AbsolutePath(path);
  }
  TimePoint Now() override { return target_.Now(); }

 private:
  Env& target_;
};

// --- Built on the Env's calls, so that a fault can land between any two ---

// Moves `source` into directory `targetDir` under `name`, replacing a file of
// that name there. Creates the directory when it is missing. Within one file
// system this is a rename; across file systems the file is copied under a
// temporary name in the target, flushed, renamed into place, and only then is
// the source removed, so a crash leaves two identical copies at worst, never
// none and never a partial one. Both directories are flushed afterwards. A
// directory flush that fails, or a source that cannot be removed after its
// copy is in place, is a failure too, with its reason: the file may then be
// in the target already. On any other failure the source is untouched.
bool MoveIntoDirectory(Env& env, const std::string& source, const std::string& targetDir,
                       const std::string& name, std::string* error);

// Appends `bytes` to the file at `path` in one opening and closes it.
bool AppendToFile(Env& env, const std::filesystem::path& path, std::string_view bytes,
                  std::string* error);

}  // namespace ovix
