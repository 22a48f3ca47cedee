// Which device each port number opens, and the list the panel offers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <iterator>
#include <set>

#include "com_table.h"

using namespace tarvo::rt;

class PortTable : public ::testing::Test {
protected:
    void SetUp() override { clearComDevices(); }
    void TearDown() override { clearComDevices(); }
};

TEST_F(PortTable, NumbersWithoutAComEntryFollowTheDefaultTable)
{
#if defined(__linux__)
    EXPECT_EQ(comDevice(1), "/dev/ttyS0");
    EXPECT_EQ(comDevice(16), "/dev/ttyS15");
    EXPECT_EQ(comDevice(17), "/dev/ttyUSB0");
    EXPECT_EQ(comDevice(32), "/dev/ttyUSB15");
    EXPECT_EQ(comDevice(33), "/dev/ttyACM0");
    EXPECT_EQ(comDevice(48), "/dev/ttyACM15");
    EXPECT_EQ(comDevice(49), "");
    EXPECT_EQ(comDevice(0), "");
#endif
    EXPECT_EQ(comDevice(kVirtualPortNumber), kVirtualDevice);
}

TEST_F(PortTable, AComEntryTakesItsNumberFromTheTable)
{
    setComDevice(3, "/dev/pts/7");
    setComDevice(kVirtualPortNumber, "/dev/ttyUSB4");
    setComDevice(200, kVirtualDevice);
    EXPECT_EQ(comDevice(3), "/dev/pts/7");
    EXPECT_EQ(comDevice(kVirtualPortNumber), "/dev/ttyUSB4");
    EXPECT_EQ(comDevice(200), kVirtualDevice);
    setComDevice(3, "/dev/pts/8");  // the later entry wins
    EXPECT_EQ(comDevice(3), "/dev/pts/8");
    clearComDevices();
#if defined(__linux__)
    EXPECT_EQ(comDevice(3), "/dev/ttyS2");
#endif
}

TEST_F(PortTable, TheListShowsComEntriesFirstAndNoNumberTwice)
{
    setComDevice(5, "/dev/pts/9");
    setComDevice(1, "/dev/pts/10");  // takes a number a built-in UART may have
    const auto ports = listPorts();
    ASSERT_GE(ports.size(), 3u);
    EXPECT_EQ(ports[0].number, 1);
    EXPECT_EQ(ports[0].device, "/dev/pts/10");
    EXPECT_EQ(ports[1].number, 5);
    EXPECT_EQ(ports[1].device, "/dev/pts/9");
    EXPECT_EQ(ports.back().number, kVirtualPortNumber);
    EXPECT_EQ(ports.back().device, kVirtualDevice);
    EXPECT_EQ(ports.back().description, "virtual board");
    std::set<int> numbers;
    for (const auto& p : ports) {
        EXPECT_TRUE(numbers.insert(p.number).second) << "number " << p.number << " twice";
        EXPECT_FALSE(p.description.empty()) << p.device;
    }
}

TEST_F(PortTable, TheVirtualBoardIsListedOnceWhereverItIs)
{
    setComDevice(4, kVirtualDevice);
    auto ports = listPorts();
    int boards = 0;
    for (const auto& p : ports)
        boards += p.device == kVirtualDevice;
    EXPECT_EQ(boards, 1);
    EXPECT_EQ(ports.front().number, 4);

    // Number 99 given to a device: no virtual board unless an entry names it.
    clearComDevices();
    setComDevice(kVirtualPortNumber, "/dev/pts/11");
    ports = listPorts();
    for (const auto& p : ports)
        EXPECT_NE(p.device, kVirtualDevice);
    EXPECT_EQ(ports.front().device, "/dev/pts/11");
}

#if defined(__linux__)
TEST_F(PortTable, AComEntryIsDescribedByTheKindOfDeviceItNames)
{
    const struct {
        const char* device;
        const char* description;  // the start of it: a USB adapter adds its maker
    } cases[] = {
        {"/dev/ttyS15", "serial port"},    {"/dev/ttyUSB15", "USB adapter"},
        {"/dev/ttyACM15", "USB adapter"},  {"/dev/null", "serial device"},
        {kVirtualDevice, "virtual board"},
    };
    int number = 1;
    for (const auto& c : cases)
        setComDevice(number++, c.device);
    const auto ports = listPorts();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        ASSERT_LT(i, ports.size());
        EXPECT_EQ(ports[i].device, cases[i].device);
        EXPECT_EQ(ports[i].description.rfind(cases[i].description, 0), 0u)
            << cases[i].device << ": " << ports[i].description;
    }
}

TEST_F(PortTable, AMachinePortIsListedUnderItsNumberUnlessAComEntryNamesItThroughALink)
{
    const auto before = listPorts();
    const PortInfo* machinePort = nullptr;
    for (const auto& p : before) {
        if (p.device == kVirtualDevice)
            continue;
        // Without --com entries every other port is the machine's, and its
        // number opens it.
        EXPECT_EQ(comDevice(p.number), p.device);
        if (!machinePort)
            machinePort = &p;
    }
    if (!machinePort)
        GTEST_SKIP() << "this machine has no serial port to list";

    const std::string link = ::testing::TempDir() + "tarvo-port-link";
    std::remove(link.c_str());
    ASSERT_EQ(::symlink(machinePort->device.c_str(), link.c_str()), 0);
    setComDevice(200, link);
    const auto after = listPorts();
    std::remove(link.c_str());
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after[0].device, link);
    EXPECT_EQ(after[0].description, machinePort->description);
    for (const auto& p : after)
        EXPECT_NE(p.device, machinePort->device) << "listed twice";
    EXPECT_EQ(after.size(), before.size());
}
#endif
