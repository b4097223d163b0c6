// The Qt serial adapter against a real pseudo-terminal: the test plays the
// register on the master side, the driver's link uses the slave.
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
#include "platform_support.h"
#include "qt/qt_event_pump.h"
#include "qt/qt_serial_port.h"

namespace ovix {
namespace {

using namespace std::chrono_literals;
using test::EnsureApp;
using test::kSafety;

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
  EXPECT_EQ(int(link_.JobError()), 0);
  EXPECT_EQ(link_.ReplyHex(), "410007");

  // Body "A" 10 00 31: the 0x10 goes out doubled, the zero byte as it is.
  const Bytes command = kHead + B({0x41, 0x10, 0x10, 0x00, 0x31}) + kTail;
  const auto sendKeys = [&] { link_.SendKeys(B({0x10, 0x00, 0x31})); };
  EXPECT_EQ(Exchange(command.size(), okReply, sendKeys), command + kAck);
  EXPECT_EQ(link_.ReplyHex(), "410007");
  EXPECT_EQ(int(link_.JobError()), 0);
  EXPECT_EQ(link_.SecondStatus(), 7);
}

TEST_F(SerialPortTest, NoiseAndStuffedDataInRepliesAreUnderstood) {
  const Bytes query = kHead + "S" + kTail;
  // 06 15 before the frame and 41 between DLE and STX are ignored; 10 10 is one
  // 0x10 of data and a lone 03 is data too.
  const Bytes noisyReply =
      B({0x06, 0x15, 0x10, 0x41, 0x02, 0x00, 0x00, 0x00, 0x00, 0x41, 0x10, 0x10, 0x03, 0x05}) +
      kTail;
  EXPECT_EQ(Exchange(query.size(), noisyReply, [&] { link_.SendQuery('S'); }), query + kAck);
  EXPECT_EQ(int(link_.JobError()), 0);
  EXPECT_EQ(link_.ReplyHex(), "41100305");

  const Bytes command = kHead + B({0x41, 0x0F}) + kTail;
  const Bytes failedReply = kHead + B({0x41, 0x0C, 0x12}) + kTail;
  EXPECT_EQ(Exchange(command.size(), failedReply, [&] { link_.SendKeys(B({0x0F})); }),
            command + kAck);
  EXPECT_EQ(int(link_.JobError()), 2);
  EXPECT_EQ(link_.SecondStatus(), 12);
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
  } cases[] = {{false, 10, true}, {true, 10, false}, {false, 0, true}};
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

}  // namespace
}  // namespace ovix
