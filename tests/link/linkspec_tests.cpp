#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>

#include "aLinkSpec.h"

namespace {

uint32_t sLE(const uint8_t* at) {
    return at[0] | (at[1] << 8) | (at[2] << 16) | ((uint32_t)at[3] << 24);
}

TEST(LinkSpec, TcpRecordLayout) {
    linkSpec* lspec = aLinkSpec_Create(TCPIP);
    ASSERT_NE(lspec, nullptr);
    lspec->serialNumber = 0x40F5849A;
    lspec->module = 2;
    lspec->router = 2;
    lspec->routerSerialNumber = 0x40F5849A;
    lspec->model = 0x13;
    lspec->ipAddress = htonl(0xC6336402); // 198.51.100.2
    lspec->ipPort = 9900;
    uint8_t bytes[aLINKSPEC_SIZE];
    ASSERT_EQ(aLinkSpec_Serialize(lspec, bytes), aErrNone);
    EXPECT_EQ(sLE(bytes + 0), 2u);
    EXPECT_EQ(sLE(bytes + 4), 0x40F5849Au);
    EXPECT_EQ(sLE(bytes + 8), 2u);
    EXPECT_EQ(sLE(bytes + 12), 2u);
    EXPECT_EQ(sLE(bytes + 16), 0x40F5849Au);
    EXPECT_EQ(sLE(bytes + 20), 0x13u);
    const uint8_t address[4] = {198, 51, 100, 2}; // network byte order
    EXPECT_EQ(memcmp(bytes + 24, address, 4), 0);
    EXPECT_EQ(sLE(bytes + 28), 9900u);
    for (int i = 32; i < aLINKSPEC_SIZE; i++)
        EXPECT_EQ(bytes[i], 0) << i;
    // The in-memory record is the wire form on this little-endian host.
    EXPECT_EQ(memcmp(bytes, lspec, aLINKSPEC_SIZE), 0);

    linkSpec parsed;
    ASSERT_EQ(aLinkSpec_Parse(bytes, &parsed), aErrNone);
    EXPECT_EQ(memcmp(&parsed, lspec, aLINKSPEC_SIZE), 0);
    linkSpec* copy = aLinkSpec_Copy(lspec);
    EXPECT_EQ(memcmp(copy, lspec, aLINKSPEC_SIZE), 0);
    aLinkSpec_Destroy(&copy);
    aLinkSpec_Destroy(&lspec);
    EXPECT_EQ(lspec, nullptr);
    EXPECT_EQ(aLinkSpec_Destroy(&lspec), aErrParam);
}

TEST(LinkSpec, SerialRecordLayout) {
    linkSpec* lspec = aLinkSpec_Create(SERIAL);
    lspec->baudRate = 115200;
    strcpy(lspec->portName, "/dev/ttyUSB0");
    uint8_t bytes[aLINKSPEC_SIZE];
    ASSERT_EQ(aLinkSpec_Serialize(lspec, bytes), aErrNone);
    EXPECT_EQ(sLE(bytes), 3u);
    EXPECT_EQ(sLE(bytes + 24), 115200u);
    EXPECT_STREQ((const char*)bytes + 28, "/dev/ttyUSB0");
    linkSpec parsed;
    ASSERT_EQ(aLinkSpec_Parse(bytes, &parsed), aErrNone);
    EXPECT_STREQ(parsed.portName, "/dev/ttyUSB0");
    // A port name without its zero would run off the record.
    memset(bytes + 28, 'x', aLINKSPEC_PORTNAME_SIZE);
    EXPECT_EQ(aLinkSpec_Parse(bytes, &parsed), aErrParse);
    aLinkSpec_Destroy(&lspec);
}

} // namespace
