// Helpers shared by the fuzz targets: a check that aborts on a broken
// invariant (libFuzzer records the abort as a crash and saves the input), a
// reader that hands out the fuzz input piece by piece, and a scratch file for
// the functions that only take a path.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace ovix::fuzz {

[[noreturn]] inline void Fail(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
  std::abort();
}

#define OVIX_FUZZ_CHECK(condition) \
  ((condition) ? void(0) : ::ovix::fuzz::Fail(#condition, __FILE__, __LINE__))

// Takes the fuzz input from the front. Reading past the end gives zero bytes
// and empty texts, so every input is a complete program for a target.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}

  bool Empty() const { return rest_.empty(); }

  std::uint8_t Byte() {
    if (rest_.empty()) return 0;
    const auto b = static_cast<std::uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return b;
  }

  // Two bytes, high byte first.
  std::size_t Word() {
    const std::size_t high = Byte();
    return high << 8 | Byte();
  }

  // Up to n bytes.
  std::string Bytes(std::size_t n) {
    const std::string_view taken = rest_.substr(0, n);
    rest_.remove_prefix(taken.size());
    return std::string(taken);
  }

  // The text up to the next separator, which is consumed; the whole rest when
  // there is none.
  std::string_view Until(char separator) {
    const std::size_t end = rest_.find(separator);
    const std::string_view taken = rest_.substr(0, end);
    rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
    return taken;
  }

  std::string_view Rest() {
    const std::string_view taken = rest_;
    rest_ = {};
    return taken;
  }

 private:
  std::string_view rest_;
};

// One file per process whose contents each run replaces. It lives in memory
// (memfd, opened by path through /proc) where the system allows, so that runs
// do no disk I/O; otherwise it is a temporary file removed at exit.
class ScratchFile {
 public:
  ScratchFile() {
    fd_ = memfd_create("ovix-fuzz", 0);
    if (fd_ >= 0) {
      path_ = "/proc/self/fd/" + std::to_string(fd_);
      return;
    }
    const char* dir = std::getenv("TMPDIR");
    std::string name =
        std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/ovix-fuzz-XXXXXX";
    fd_ = mkstemp(name.data());
    if (fd_ < 0) Fail("a scratch file can be created", __FILE__, __LINE__);
    path_ = name;
    unlinkAtExit_ = true;
  }
  ~ScratchFile() {
    if (unlinkAtExit_) unlink(path_.c_str());
    close(fd_);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& path() const { return path_; }

  void Write(std::string_view contents) {
    if (ftruncate(fd_, 0) != 0) Fail("the scratch file can be emptied", __FILE__, __LINE__);
    std::size_t done = 0;
    while (done < contents.size()) {
      const ssize_t n =
          pwrite(fd_, contents.data() + done, contents.size() - done, static_cast<off_t>(done));
      if (n <= 0) Fail("the scratch file can be written", __FILE__, __LINE__);
      done += static_cast<std::size_t>(n);
    }
  }

 private:
  int fd_ = -1;
  std::string path_;
  bool unlinkAtExit_ = false;
};

}  // namespace ovix::fuzz
