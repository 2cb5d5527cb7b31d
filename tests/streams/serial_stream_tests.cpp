// The serial transport over a pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "aStream_Serial.h"
#include "aTime.h"

namespace {

struct Pty {
    int master = -1, slave = -1;
    std::string path;
    Pty() {
        char name[256];
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
        path = name;
        struct termios t;
        tcgetattr(slave, &t);
        cfmakeraw(&t); // else the line discipline echoes and rewrites bytes
        tcsetattr(slave, TCSANOW, &t);
    }
    ~Pty() {
        if (master >= 0) close(master);
        if (slave >= 0) close(slave);
    }
    std::string readMaster(size_t n) {
        std::string out;
        while (out.size() < n) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 2000) != 1) break;
            char buf[256];
            ssize_t got = read(master, buf, std::min(sizeof(buf), n - out.size()));
            if (got <= 0) break;
            out.append(buf, (size_t)got);
        }
        return out;
    }
};

} // namespace

TEST(SerialStream, OpensRawAtTheTableSpeedAndMovesEveryByteValue) {
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateSerial(pty.path.c_str(), 6, false, 0, 0, &s), aErrNone);

    struct termios t;
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(cfgetispeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & CSIZE, (tcflag_t)CS8);
    EXPECT_FALSE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));
    EXPECT_EQ(t.c_oflag & OPOST, 0u);

    const std::string sample("\x00\x03\x0a\x0d\x11\x13\x7f\xff", 8);
    ASSERT_EQ(aStream_Write(s, reinterpret_cast<const uint8_t*>(sample.data()), sample.size()),
              aErrNone);
    EXPECT_EQ(pty.readMaster(sample.size()), sample);

    uint8_t b;
    EXPECT_EQ(aStream_Read(s, &b, 1), aErrNotReady);
    ASSERT_EQ(write(pty.master, sample.data(), sample.size()), (ssize_t)sample.size());
    std::string got;
    uint64_t end = aTime_GetMSTicks() + 2000;
    while (got.size() < sample.size() && aTime_GetMSTicks() < end)
        if (aStream_Read(s, &b, 1) == aErrNone) got.push_back(char(b));
    EXPECT_EQ(got, sample);
    EXPECT_EQ(aStream_Destroy(&s), aErrNone);
}

TEST(SerialStream, OtherCodesSetParityAndStopsAndCloseRestores) {
    Pty pty;
    struct termios before;
    tcgetattr(pty.slave, &before);
    cfsetspeed(&before, B9600);
    tcsetattr(pty.slave, TCSANOW, &before);
    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateSerial(pty.path.c_str(), 0, true, 1, 1, &s), aErrNone);
    struct termios t;
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B2400);
    // A pty always keeps CS8 without parity; the stop bits and input flags show.
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_iflag & IGNPAR);
    aStream_Destroy(&s);
    // Closing restores what the port had before.
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_FALSE(t.c_cflag & CSTOPB);
}

TEST(SerialStream, RefusesBadArgumentsAndReportsOpenErrors) {
    Pty pty;
    aStream* s = nullptr;
    EXPECT_EQ(aStream_CreateSerial(nullptr, 6, false, 0, 0, &s), aErrResource);
    EXPECT_EQ(aStream_CreateSerial(pty.path.c_str(), 6, false, 2, 0, &s), aErrResource);
    EXPECT_EQ(aStream_CreateSerial(pty.path.c_str(), 6, false, 0, 2, &s), aErrResource);
    EXPECT_EQ(aStream_CreateSerial(pty.path.c_str(), 6, false, 0, 0, nullptr), aErrResource);
    // Speed 0 would hang the line up: refused.
    EXPECT_EQ(aStream_CreateSerial(pty.path.c_str(), 8, false, 0, 0, &s), aErrResource);
    std::string longPath(5000, 'a');
    EXPECT_EQ(aStream_CreateSerial(longPath.c_str(), 6, false, 0, 0, &s), aErrResource);
    EXPECT_EQ(aStream_CreateSerial("/dev/no-such-port", 6, false, 0, 0, &s), aErrNotFound);
    EXPECT_EQ(aStream_CreateSerial("/etc/hostname", 6, false, 0, 0, &s), aErrIO); // not a tty
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(aStream_SerialBaudCode(115200), 6);
    EXPECT_EQ(aStream_SerialBaudCode(1200), -1);
}

TEST(SerialStream, APeerThatStopsReadingFailsTheWriteInsteadOfHanging) {
    Pty pty;
    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateSerial(pty.path.c_str(), 7, false, 0, 0, &s), aErrNone);
    // Nobody reads the master: the pty fills up and the write must give up.
    std::string block(4096, 'x');
    aErr err = aErrNone;
    for (int i = 0; i < 64 && err == aErrNone; i++)
        err = aStream_Write(s, reinterpret_cast<const uint8_t*>(block.data()), block.size());
    EXPECT_EQ(err, aErrIO);
    aStream_Destroy(&s);
}

TEST(SerialStream, AHungUpLineIsEndOfFile) {
    Pty pty;
    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateSerial(pty.path.c_str(), 6, false, 0, 0, &s), aErrNone);
    uint8_t b;
    EXPECT_EQ(aStream_Read(s, &b, 1), aErrNotReady); // quiet, not gone
    close(pty.master);
    close(pty.slave);
    pty.master = pty.slave = -1;
    EXPECT_EQ(aStream_Read(s, &b, 1), aErrEOF);
    aStream_Destroy(&s);
}
