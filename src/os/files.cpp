// SystemEnv: the Env of the running system, built on the C library, the
// standard library's file system calls and the system's own calls of
// posix.cpp or windows.cpp (os/system_files.h).
#include <cerrno>
#include <cstring>
#include <system_error>

#include "os/env.h"
#include "os/os.h"
#include "os/system_files.h"

namespace ovix {
namespace fs = std::filesystem;

namespace {

// The causes an operator can do something about, in the log's style: plain
// ASCII, so that every code page spells them.
struct Cause {
  std::errc cause;
  const char* words;
};
constexpr Cause kCommonCauses[] = {
    {std::errc::no_such_file_or_directory, "nu exista"},
    {std::errc::no_such_device, "dispozitivul nu exista sau nu mai este conectat"},
    {std::errc::no_such_device_or_address, "dispozitivul nu exista sau nu mai este conectat"},
    {std::errc::broken_pipe, "legatura cu dispozitivul s-a intrerupt"},
    {std::errc::permission_denied, "acces refuzat"},
    {std::errc::operation_not_permitted, "acces refuzat"},
    {std::errc::no_space_on_device, "disc plin"},
    {std::errc::read_only_file_system, "disc protejat la scriere"},
    {std::errc::io_error, "eroare de citire/scriere pe dispozitiv"},
    {std::errc::device_or_resource_busy, "folosit de alt program"},
    {std::errc::not_a_directory, "nu este un director"},
    {std::errc::is_a_directory, "este un director"},
    {std::errc::filename_too_long, "nume prea lung"},
    {std::errc::function_not_supported, "operatie nesuportata de dispozitiv"},
};

}  // namespace

std::string FileInDirectory(const std::string& dir, std::string_view name) {
  return dir + DirectorySeparator() + std::string(name);
}

std::string ReasonText(std::errc cause, const std::string& systemMessage, int code) {
  std::string text = systemMessage;
  for (const Cause& known : kCommonCauses)
    if (known.cause == cause) text = known.words;
  return text + " (cod " + std::to_string(code) + ")";
}

bool SystemFailure(std::string* error) {
  if (error)
    *error = SystemReason(std::error_code(errno != 0 ? errno : EIO, std::generic_category()));
  return false;
}

namespace {

bool Failed(const std::error_code& ec, std::string* error) {
  if (error) *error = SystemReason(ec);
  return false;
}

FileType TypeOf(const fs::file_status& status) {
  switch (status.type()) {
    case fs::file_type::not_found:
    case fs::file_type::none:
      return FileType::Missing;
    case fs::file_type::regular:
      return FileType::Regular;
    case fs::file_type::directory:
      return FileType::Directory;
    default:
      return FileType::Other;
  }
}

// A file of the C library: every Append is written through to the system.
class StdioFile : public WritableFile {
 public:
  explicit StdioFile(File file) : file_(std::move(file)) {}

  bool Append(std::string_view bytes, std::string* error) override {
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size())
      return SystemFailure(error);
    return std::fflush(file_.get()) == 0 || SystemFailure(error);
  }
  bool Sync(std::string* error) override { return FlushFileToDisk(file_.get(), error); }
  bool Close(std::string* error) override {
    errno = 0;
    return std::fclose(file_.release()) == 0 || SystemFailure(error);
  }

 private:
  File file_;
};

std::unique_ptr<WritableFile> Opened(File file) {
  if (!file) return nullptr;
  return std::make_unique<StdioFile>(std::move(file));
}

class SystemEnvImpl : public Env {
 public:
  std::optional<std::string> ReadFile(const fs::path& path, std::string* error) override;
  std::unique_ptr<WritableFile> NewWritableFile(const fs::path& path, std::string* error) override {
    File file = OpenFile(path, "wb", error);
    if (file) ShareWithDirectoryGroup(path, nullptr);
    return Opened(std::move(file));
  }
  std::unique_ptr<WritableFile> NewAppendableFile(const fs::path& path,
                                                  std::string* error) override {
    std::error_code ec;
    const bool existed = fs::exists(path, ec);
    File file = OpenFile(path, "ab", error);
    if (file && !existed) ShareWithDirectoryGroup(path, nullptr);
    return Opened(std::move(file));
  }
  bool SyncFile(const fs::path& path, std::string* error) override {
    return SyncFileAt(path, error);
  }
  bool ListDirectory(const fs::path& dir, const Visitor& visit, std::string* error) override;
  bool CreateDirectories(const fs::path& dir, std::string* error) override {
    std::error_code ec;
    fs::create_directories(dir, ec);
    return !ec || Failed(ec, error);
  }
  bool SyncDirectory(const fs::path& dir, std::string* error) override {
    return ovix::SyncDirectory(dir, error);
  }
  bool RemoveFile(const fs::path& path, std::string* error) override {
    std::error_code ec;
    fs::remove(path, ec);
    return !ec || Failed(ec, error);
  }
  bool RenameReplacing(const fs::path& from, const fs::path& to, std::string* error,
                       bool* crossDevice) override {
    return ovix::RenameReplacing(from, to, error, crossDevice);
  }
  bool CopyFile(const fs::path& from, const fs::path& to, std::string* error) override {
    std::error_code ec;
    if (!fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec))
      return Failed(ec, error);
    ShareWithDirectoryGroup(to, nullptr);
    return true;
  }
  bool Status(const fs::path& path, FileStatus* status, std::string* error) override;
  WriterCheck CheckForWriter(const fs::path& path) override { return ovix::CheckForWriter(path); }
  fs::path AbsolutePath(const fs::path& path) override {
    std::error_code ec;
    fs::path absolute = fs::canonical(path, ec);
    if (ec) absolute = fs::absolute(path, ec).lexically_normal();
    return ec ? path : absolute;
  }
  TimePoint Now() override { return std::chrono::system_clock::now(); }
};

std::optional<std::string> SystemEnvImpl::ReadFile(const fs::path& path, std::string* error) {
  File file = OpenFile(path, "rb", error);
  if (!file) return std::nullopt;
  std::string text;
  char buffer[65536];
  std::size_t got;
  errno = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, got);
  if (std::ferror(file.get()) != 0) {
    SystemFailure(error);
    return std::nullopt;
  }
  return text;
}

bool SystemEnvImpl::ListDirectory(const fs::path& dir, const Visitor& visit, std::string* error) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    DirEntry entry;
    entry.name = it->path().filename();
    std::error_code statEc;
    entry.symlink = it->is_symlink(statEc);
    entry.type = TypeOf(it->symlink_status(statEc));
    entry.hidden = IsHiddenFile(it->path());
    if (entry.type == FileType::Regular) {
      entry.size = it->file_size(statEc);
      entry.modified = it->last_write_time(statEc);
      // Gone since the listing read it.
      if (statEc) entry.type = FileType::Missing;
    }
    if (!visit(entry)) return true;
  }
  return !ec || Failed(ec, error);
}

bool SystemEnvImpl::Status(const fs::path& path, FileStatus* status, std::string* error) {
  std::error_code ec;
  *status = FileStatus{};
  const fs::file_status linkStatus = fs::symlink_status(path, ec);
  if (ec && linkStatus.type() != fs::file_type::not_found) return Failed(ec, error);
  status->symlink = fs::is_symlink(linkStatus);
  const fs::file_status target = status->symlink ? fs::status(path, ec) : linkStatus;
  status->type = TypeOf(target);
  if (status->type != FileType::Regular) return true;
  status->size = fs::file_size(path, ec);
  if (!ec) status->modified = fs::last_write_time(path, ec);
  return !ec || Failed(ec, error);
}

}  // namespace

Env& SystemEnv() {
  static SystemEnvImpl env;
  return env;
}

}  // namespace ovix
