// The Qt serial adapter and event pump against a real pseudo-terminal: the test
// plays the register on the master side, the driver's link uses the slave.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "link/printer_link.h"
#include "qt/qt_event_pump.h"
#include "qt/qt_serial_port.h"
#include "qt/qt_spool_watch.h"

namespace ovix {
namespace {

using namespace std::chrono_literals;

// Safety net only: no step of these tests comes close to it on a working build.
constexpr auto kSafety = 20s;

void EnsureApp() {
  static int argc = 1;
  static char name[] = "ovix_platform_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* app = new QCoreApplication(argc, argv);  // lives until exit
  (void)app;
}

Bytes B(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// The master side of a pseudo-terminal pair in raw mode.
class Pty {
 public:
  Pty() {
    fd_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) return;
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd_, TCSANOW, &tio);
    slave_ = ptsname(fd_);
  }
  ~Pty() { HangUp(); }
  void HangUp() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  const std::string& SlavePath() const { return slave_; }

  void Send(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }

  // Reads until `count` bytes have come or the safety time-out has passed.
  Bytes Receive(std::size_t count) {
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + kSafety;
    while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
      if (ReadSome(out, 100) < 0) break;
    }
    return out;
  }

  // Whatever arrives within `waitMs`; a short look used to find stray bytes.
  Bytes Drain(int waitMs) {
    Bytes out;
    while (ReadSome(out, waitMs) > 0) {
    }
    return out;
  }

 private:
  // Appends what one read yields: the byte count, 0 when nothing came within
  // timeoutMs, -1 when the line is gone.
  int ReadSome(Bytes& out, int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = poll(&p, 1, timeoutMs);
    if (ready == 0) return 0;
    char buf[512];
    const ssize_t n = ready < 0 ? -1 : read(fd_, buf, sizeof buf);
    if (n <= 0) return -1;
    out.append(buf, static_cast<std::size_t>(n));
    return static_cast<int>(n);
  }

  int fd_ = -1;
  std::string slave_;
};

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApp();
    ASSERT_FALSE(pty_.SlavePath().empty());
    std::string error;
    ASSERT_TRUE(port_.Open(pty_.SlavePath(), &error)) << error;
    port_.onByte = [this](std::uint8_t b) { link_.OnByte(b); };
  }

  // Plays the register for one exchange on a helper thread while the link sends
  // and waits: takes a command of commandSize bytes, answers with reply and
  // takes the ACK. Returns everything the register received.
  template <typename Send>
  Bytes Exchange(std::size_t commandSize, const Bytes& reply, Send send) {
    Bytes received;
    std::thread registerSide([&] {
      received = pty_.Receive(commandSize);
      if (received.size() != commandSize) return;
      pty_.Send(reply);
      received += pty_.Receive(1);
    });
    send();
    registerSide.join();
    return received + pty_.Drain(200);
  }

  Pty pty_;
  QtSerialPort port_;
  SteadyClock clock_;
  QtEventPump pump_;
  PrinterLink link_{port_, clock_, pump_};
};

const Bytes kHead = B({0x10, 0x02, 0x00, 0x00, 0x00, 0x00});
const Bytes kTail = B({0x10, 0x03});
const Bytes kAck = B({0x06});

TEST_F(SerialPortTest, QueryThenCommandGoOutFramedAndRepliesAreAcknowledged) {
  const Bytes okReply = kHead + B({0x41, 0x00, 0x07}) + kTail;

  const Bytes query = kHead + "T" + kTail;
  EXPECT_EQ(Exchange(query.size(), okReply, [&] { link_.SendQuery('T'); }), query + kAck);
  EXPECT_EQ(int(link_.JobError), 0);
  EXPECT_EQ(link_.ReplyHex, "410007");

  // Body "A" 10 00 31: the 0x10 goes out doubled, the zero byte as it is.
  const Bytes command = kHead + B({0x41, 0x10, 0x10, 0x00, 0x31}) + kTail;
  const auto sendKeys = [&] { link_.SendKeys(B({0x10, 0x00, 0x31})); };
  EXPECT_EQ(Exchange(command.size(), okReply, sendKeys), command + kAck);
  EXPECT_EQ(link_.ReplyHex, "410007");
  EXPECT_EQ(int(link_.JobError), 0);
  EXPECT_EQ(link_.SecondStatus, 7);
}

TEST_F(SerialPortTest, NoiseAndStuffedDataInRepliesAreUnderstood) {
  const Bytes query = kHead + "S" + kTail;
  // 06 15 before the frame and 41 between DLE and STX are ignored; 10 10 is one
  // 0x10 of data and a lone 03 is data too.
  const Bytes noisyReply =
      B({0x06, 0x15, 0x10, 0x41, 0x02, 0x00, 0x00, 0x00, 0x00, 0x41, 0x10, 0x10, 0x03, 0x05}) +
      kTail;
  EXPECT_EQ(Exchange(query.size(), noisyReply, [&] { link_.SendQuery('S'); }), query + kAck);
  EXPECT_EQ(int(link_.JobError), 0);
  EXPECT_EQ(link_.ReplyHex, "41100305");

  const Bytes command = kHead + B({0x41, 0x0F}) + kTail;
  const Bytes failedReply = kHead + B({0x41, 0x0C, 0x12}) + kTail;
  EXPECT_EQ(Exchange(command.size(), failedReply, [&] { link_.SendKeys(B({0x0F})); }),
            command + kAck);
  EXPECT_EQ(int(link_.JobError), 2);
  EXPECT_EQ(link_.SecondStatus, 12);
}

TEST_F(SerialPortTest, EveryByteValuePassesUnchangedBothWays) {
  Bytes all;
  for (int v = 0; v < 256; ++v) all.push_back(static_cast<char>(v));

  port_.Write(all);
  EXPECT_EQ(pty_.Receive(all.size()), all);

  Bytes delivered;
  port_.onByte = [&](std::uint8_t b) { delivered.push_back(static_cast<char>(b)); };
  pty_.Send(all);
  const auto deadline = std::chrono::steady_clock::now() + kSafety;
  while (delivered.size() < all.size() && std::chrono::steady_clock::now() < deadline) {
    pump_.RunPendingEvents(100ms);
  }
  EXPECT_EQ(delivered, all);
}

TEST_F(SerialPortTest, ClosedPortDropsWritesAndReopens) {
  EXPECT_TRUE(port_.IsOpen());
  port_.Close();
  EXPECT_FALSE(port_.IsOpen());
  port_.Write("A");
  std::string error;
  ASSERT_TRUE(port_.Open(pty_.SlavePath(), &error)) << error;
  port_.Write("B");
  Bytes received = pty_.Receive(1);
  received += pty_.Drain(200);
  EXPECT_EQ(received, "B");
}

TEST_F(SerialPortTest, HangUpIsReportedOnceAndClosesThePort) {
  int reports = 0;
  QString reason;
  QObject::connect(&port_, &QtSerialPort::portError, [&](const QString& r) {
    ++reports;
    reason = r;
  });
  pty_.HangUp();
  const auto deadline = std::chrono::steady_clock::now() + kSafety;
  while (port_.IsOpen() && std::chrono::steady_clock::now() < deadline) {
    pump_.RunPendingEvents(100ms);
  }
  pump_.RunPendingEvents(0ns);
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_EQ(reports, 1);
  EXPECT_FALSE(reason.isEmpty());
}

TEST(QtSerialPortOpen, MissingDeviceFailsWithReason) {
  EnsureApp();
  QtSerialPort port;
  std::string error;
  EXPECT_FALSE(port.Open("/dev/ovix-no-such-port", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(port.IsOpen());
}

// A lock file of the port that is empty, held by nobody and a few seconds old
// was left by a program killed while taking it and is removed; one that its
// owner still holds (a live QLockFile keeps an flock on it) is not, nor a
// fresh one, which a program that locks without flock may be about to fill.
TEST(QtSerialPortOpen, OnlyADeadEmptyLockFileIsRemoved) {
  if (::access("/var/lock", W_OK) != 0) GTEST_SKIP() << "/var/lock is not writable";
  EnsureApp();
  const struct {
    bool held;
    time_t age;  // seconds since the file's last change
    bool removed;
  } cases[] = {{false, 10, true}, {true, 10, false}, {false, 0, false}};
  for (const auto& c : cases) {
    Pty pty;
    const std::string slave = pty.SlavePath();
    std::string name = slave.substr(5);  // without "/dev/"
    std::replace(name.begin(), name.end(), '/', '_');
    const std::string lock = "/var/lock/LCK.." + name;
    const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const timespec changed[2] = {{std::time(nullptr) - c.age, 0}, {std::time(nullptr) - c.age, 0}};
    ASSERT_EQ(::futimens(fd, changed), 0);
    if (c.held) {
      ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    }
    QtSerialPort port;
    std::string error;
    EXPECT_EQ(port.Open(slave, &error), c.removed) << c.held << c.age << " " << error;
    port.Close();  // the port's own lock goes with it
    EXPECT_EQ(std::filesystem::exists(lock), !c.removed);
    ::close(fd);
    std::filesystem::remove(lock);
  }
}

// The spool watch on a real directory: a name renamed in arrives, one written
// in place changes, and the directory's removal ends the watch.
TEST(QtSpoolWatch, ReportsArrivalsChangesAndTheEndOfTheDirectory) {
  EnsureApp();
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("ovix-watch-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directory(dir);
  QtSpoolWatch watch;
  std::vector<std::pair<SpoolChange, std::string>> changes;
  std::string failure;
  watch.onChange = [&](SpoolChange c, const std::string& name) { changes.emplace_back(c, name); };
  watch.onFailure = [&](const std::string& reason) { failure = reason; };
  std::string reason;
  EXPECT_FALSE(watch.Start((dir / "missing").string(), &reason));
  EXPECT_FALSE(reason.empty());
  ASSERT_TRUE(watch.Start(dir.string(), &reason)) << reason;
  const auto waitFor = [&](auto done) {
    const auto deadline = std::chrono::steady_clock::now() + kSafety;
    while (!done() && std::chrono::steady_clock::now() < deadline)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  };
  const auto has = [&](SpoolChange c, const std::string& name) {
    return std::find(changes.begin(), changes.end(), std::pair(c, name)) != changes.end();
  };
  std::ofstream(dir / ".a.txt.part") << "<\r\n";
  std::filesystem::rename(dir / ".a.txt.part", dir / "a.txt");
  std::ofstream(dir / "b.txt") << "<\r\n";
  waitFor([&] { return has(SpoolChange::Arrived, "a.txt") && has(SpoolChange::Changed, "b.txt"); });
  EXPECT_TRUE(has(SpoolChange::Arrived, "a.txt"));
  EXPECT_FALSE(has(SpoolChange::Arrived, "b.txt"));
  EXPECT_TRUE(has(SpoolChange::Changed, "b.txt"));
  std::filesystem::remove_all(dir);
  waitFor([&] { return !failure.empty(); });
  EXPECT_FALSE(failure.empty());
}

// Only local file systems are watched: a directory of any other kind is
// refused, naming its type.
TEST(QtSpoolWatch, RefusesFileSystemsNotKnownToReportEveryChange) {
  EnsureApp();
  const struct {
    const char* directory;
    const char* reason;
  } cases[] = {{"/proc", "director pe un sistem de fisiere 0x9fa0"},
               {"/sys", "director pe un sistem de fisiere 0x62656572"}};
  for (const auto& c : cases) {
    if (!std::filesystem::is_directory(c.directory)) continue;
    QtSpoolWatch watch;
    std::string reason;
    EXPECT_FALSE(watch.Start(c.directory, &reason)) << c.directory;
    EXPECT_EQ(reason, c.reason);
    EXPECT_FALSE(watch.FollowsPath());
  }
}

// Whether the watch still follows its path after the directory there is
// replaced: renamed away with a new one made in its place, or a symbolic
// link switched to another directory. The watch was started on `watched`.
TEST(QtSpoolWatch, FollowsPathOnlyWhileThePathNamesTheWatchedDirectory) {
  EnsureApp();
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("ovix-follow-" + std::to_string(::getpid()));
  const struct {
    const char* name;
    bool link;                                    // watch a symbolic link to "a"
    std::function<void(const fs::path&)> change;  // given the root
    bool follows;
  } cases[] = {
      {"unchanged", false, [](const fs::path&) {}, true},
      {"unchanged link", true, [](const fs::path&) {}, true},
      {"renamed away, new one made", false,
       [](const fs::path& r) {
         fs::rename(r / "spool", r / "old");
         fs::create_directory(r / "spool");
       },
       false},
      {"removed", false, [](const fs::path& r) { fs::remove(r / "spool"); }, false},
      {"link switched", true,
       [](const fs::path& r) {
         fs::remove(r / "spool");
         fs::create_directory_symlink(r / "b", r / "spool");
       },
       false},
  };
  for (const auto& c : cases) {
    fs::remove_all(root);
    fs::create_directories(root / "a");
    fs::create_directories(root / "b");
    if (c.link) {
      fs::create_directory_symlink(root / "a", root / "spool");
    } else {
      fs::create_directory(root / "spool");
    }
    QtSpoolWatch watch;
    std::string reason;
    ASSERT_TRUE(watch.Start((root / "spool").string(), &reason)) << c.name << ": " << reason;
    c.change(root);
    EXPECT_EQ(watch.FollowsPath(), c.follows) << c.name;
    // Watched anew, the watch follows the path again.
    if (!c.follows && fs::exists(root / "spool")) {
      ASSERT_TRUE(watch.Start((root / "spool").string(), &reason)) << c.name << ": " << reason;
      EXPECT_TRUE(watch.FollowsPath()) << c.name;
    }
  }
  fs::remove_all(root);
}

// Runs `call` on this thread while a watchdog, after the safety time-out, wakes
// the dispatcher so a call that would sleep too long still returns. True when
// the watchdog was not needed.
template <typename Call>
bool ReturnsOnItsOwn(Call call) {
  std::atomic<bool> done{false};
  std::atomic<bool> fired{false};
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  std::thread watchdog([&] {
    const auto deadline = std::chrono::steady_clock::now() + kSafety;
    while (!done && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    while (!done) {
      fired = true;
      dispatcher->wakeUp();
      std::this_thread::sleep_for(10ms);
    }
  });
  call();
  done = true;
  watchdog.join();
  return !fired;
}

TEST(QtEventPump, RunsPendingEventsAndReturns) {
  EnsureApp();
  QtEventPump pump;
  bool ran = false;
  QTimer::singleShot(0, [&] { ran = true; });
  EXPECT_TRUE(ReturnsOnItsOwn([&] {
    while (!ran) pump.RunPendingEvents(1h);
  }));
  EXPECT_TRUE(ran);
}

TEST(QtEventPump, ReturnsAfterMaxBlockWithNothingPending) {
  EnsureApp();
  QtEventPump pump;
  SteadyClock clock;
  EXPECT_TRUE(ReturnsOnItsOwn([&] {
    const auto start = clock.Now();
    while (clock.Now() - start <= 30ms) pump.RunPendingEvents(10ms);
  }));
  pump.RunPendingEvents(0ns);
  pump.RunPendingEvents(-1s);
}

TEST(QtEventPump, OuterCallReturnsOnceANestedCallIsDone) {
  EnsureApp();
  QtEventPump pump;
  bool innerDone = false;
  QTimer::singleShot(0, [&] {
    pump.RunPendingEvents(1ms);
    innerDone = true;
  });
  EXPECT_TRUE(ReturnsOnItsOwn([&] {
    while (!innerDone) pump.RunPendingEvents(1h);
  }));
}

}  // namespace
}  // namespace ovix
