// Port discovery over a made-up terminal class folder and device folder, and
// the slot comparison the configuration checks use.
#include "Serialports.h"

#include "ptypair.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A /sys/class/tty and a /dev of our own.
class PortRoots : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(mkdir(sys.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(dev.c_str(), 0755), 0);
    }

    // A terminal class entry; a hardware one has a `device` link, a UART slot a `type`.
    void terminal(const std::string& name, bool hardware, const char* type = nullptr) {
        const std::string entry = sys + "/" + name;
        ASSERT_EQ(mkdir(entry.c_str(), 0755), 0) << name;
        if (hardware) {
            ASSERT_EQ(symlink("../../devices/platform/serial", (entry + "/device").c_str()), 0);
        }
        if (type != nullptr)
            writeFileBytes(entry + "/type", type);
    }

    void link(const std::string& name, const std::string& target) {
        ASSERT_EQ(symlink(target.c_str(), (dev + "/" + name).c_str()), 0) << name;
    }

    std::vector<std::string> list(int capacity = kPortListSlots) {
        std::vector<std::string> names;
        count = -1;
        ok = ListSerialPortsIn(sys.c_str(), dev.c_str(), slots, capacity, count);
        for (int i = 0; i < count; ++i)
            names.emplace_back(slots[i]);
        return names;
    }

    std::vector<std::string> under(const std::vector<std::string>& names) const {
        std::vector<std::string> paths;
        for (const std::string& name : names)
            paths.push_back(dev + "/" + name);
        return paths;
    }

    ScratchDir scratch;
    const std::string sys = scratch.file("tty");
    const std::string dev = scratch.file("dev");
    PortSlot slots[kPortListSlots + 1] = {};
    int count = -1;
    bool ok = false;
};

TEST_F(PortRoots, HardwareTerminalsInNaturalOrder) {
    terminal("ttyUSB10", true);
    terminal("ttyUSB2", true);
    terminal("ttyS10", true, "4\n");
    terminal("ttyS2", true, "4\n");
    terminal("ttyS1", true, "0\n"); // a UART slot with no chip behind it
    terminal("ttyS0", true, "4\n");
    terminal("ttyACM0", true);
    terminal("tty1", false); // a virtual console
    terminal("console", false);
    terminal("ptmx", false);
    EXPECT_EQ(list(), under({"ttyACM0", "ttyS0", "ttyS2", "ttyS10", "ttyUSB2", "ttyUSB10"}));
    EXPECT_TRUE(ok);
}

TEST_F(PortRoots, LinksToPseudoTerminalsComeAfterTheHardware) {
    PseudoTerminal first;
    PseudoTerminal second;
    ASSERT_TRUE(first.ok() && second.ok());
    terminal("ttyUSB0", true);
    link("ttyV10", first.slavePath());
    link("ttyV9", second.slavePath());
    writeFileBytes(scratch.file("capture.log"), "not a terminal");
    link("ttyLOG", scratch.file("capture.log"));
    link("ttyGONE", scratch.file("nothing-here"));
    link("ptmx", "/dev/ptmx");
    link("pts-dir", "/dev/pts");
    // Like /dev/stdin: leads to a pseudo-terminal through /proc, for whoever looks.
    link("stdin", "/proc/self/fd/" + std::to_string(first.slaveFd()));
    writeFileBytes(dev + "/ttyPLAIN", ""); // not a link
    EXPECT_EQ(list(), under({"ttyUSB0", "ttyV9", "ttyV10"}));
}

// The names a USB adapter keeps from socket to socket: the system's links by
// id and by path, and a lab's own link from a udev rule.
TEST_F(PortRoots, StableLinksToTheHardwareComeUnderTheirOwnNames) {
    terminal("ttyUSB0", true);
    terminal("ttyUSB1", true);
    writeFileBytes(dev + "/ttyUSB0", "");
    writeFileBytes(dev + "/ttyUSB1", "");
    writeFileBytes(dev + "/rtc0", "");
    for (const char* folder : {"/serial", "/serial/by-id", "/serial/by-path"})
        ASSERT_EQ(mkdir((dev + folder).c_str(), 0755), 0);
    link("tracer", "ttyUSB1");
    link("rtc", "rtc0"); // a device, not a port
    link("serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0", "../../ttyUSB1");
    link("serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0", "../../ttyUSB0");
    link("serial/by-id/usb-gone-port0", "../../ttyUSB7");
    EXPECT_EQ(list(), under({"ttyUSB0", "ttyUSB1", "tracer",
                             "serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0",
                             "serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"}));
}

TEST_F(PortRoots, PseudoTerminalsOfTheTestRootAndNoNameTwice) {
    ASSERT_EQ(mkdir((dev + "/pts").c_str(), 0755), 0);
    writeFileBytes(dev + "/pts/7", "");
    writeFileBytes(dev + "/pts/ptmx", "");
    link("ttyLOCAL", "pts/7");
    link("ttyPTMX", "pts/ptmx");
    // A hardware name that is also a link: listed once.
    terminal("ttyUSB0", true);
    link("ttyUSB0", "pts/7");
    EXPECT_EQ(list(), under({"ttyUSB0", "ttyLOCAL"}));
}

TEST_F(PortRoots, StopsAtCapacity) {
    for (int i = 0; i < kPortListSlots + 5; ++i)
        terminal("ttyUSB" + std::to_string(i), true);
    std::memset(slots[kPortListSlots], '#', kPortSlotSize);
    const std::vector<std::string> names = list();
    ASSERT_EQ(count, kPortListSlots);
    EXPECT_EQ(names.front(), dev + "/ttyUSB0");
    EXPECT_EQ(names.back(), dev + "/ttyUSB99");
    for (int i = 0; i < kPortSlotSize; ++i)
        ASSERT_EQ(slots[kPortListSlots][i], '#') << "written past the list at " << i;

    EXPECT_EQ(list(3), under({"ttyUSB0", "ttyUSB1", "ttyUSB2"}));
    EXPECT_EQ(list(0), std::vector<std::string>{});
    EXPECT_TRUE(ok);
}

TEST_F(PortRoots, NamesOverTheSlotAreLeftOut) {
    // devDir + "/" + name of exactly 256 characters fits; one more does not.
    const std::size_t fits = kPortSlotSize - 1 - (dev.size() + 1);
    ASSERT_LT(fits + 1, 256u) << "scratch folder too deep for this test";
    const std::string longest = "ttyA" + std::string(fits - 4, 'a');
    const std::string tooLong = "ttyB" + std::string(fits - 3, 'b');
    terminal(longest, true);
    terminal(tooLong, true);
    terminal("ttyC0", true);
    EXPECT_EQ(list(), under({longest, "ttyC0"}));
    EXPECT_EQ(std::strlen(slots[0]), 256u);
}

TEST_F(PortRoots, FolderFailures) {
    EXPECT_EQ(list(), std::vector<std::string>{}); // no terminals at all
    EXPECT_TRUE(ok);

    terminal("ttyUSB0", true);
    ASSERT_EQ(rmdir(dev.c_str()), 0); // no device folder: the hardware is still listed
    EXPECT_EQ(list(), under({"ttyUSB0"}));
    EXPECT_TRUE(ok);

    count = 5;
    EXPECT_FALSE(ListSerialPortsIn(scratch.file("no-class").c_str(), dev.c_str(), slots,
                                   kPortListSlots, count));
    EXPECT_EQ(count, 0);
    count = 5;
    EXPECT_FALSE(ListSerialPortsIn(sys.c_str(), dev.c_str(), nullptr, kPortListSlots, count));
    EXPECT_EQ(count, 0);
}

TEST(FindInList, ComparesWholeSlotsCaseSensitively) {
    const PortSlot bauds[3] = {"9600", "19200", "38400"};
    EXPECT_EQ(FindInList("19200", bauds, 3), 1);
    EXPECT_EQ(FindInList("38400", bauds, 3), 2);
    EXPECT_EQ(FindInList("4800", bauds, 3), -1);
    EXPECT_EQ(FindInList("1920", bauds, 3), -1);
    EXPECT_EQ(FindInList("192000", bauds, 3), -1);
    EXPECT_EQ(FindInList("38400", bauds, 2), -1); // only the slots given
    EXPECT_EQ(FindInList("9600", bauds, 0), -1);
    EXPECT_EQ(FindInList(nullptr, bauds, 3), -1);

    const PortSlot ports[4] = {"COM2", "com1", "COM1", "COM1"};
    EXPECT_EQ(FindInList("COM1", ports, 4), 2); // the first equal slot
    EXPECT_EQ(FindInList("com1", ports, 4), 1);
    EXPECT_EQ(FindInList("Com1", ports, 4), -1);
}

TEST(FindInList, NamesAreComparedByTheirFirst256Characters) {
    std::string probe(300, 'p');
    probe[270] = 'q';
    PortSlot slots[2] = {};
    std::memset(slots[0], 'p', 256);
    slots[0][200] = 'x';
    std::memset(slots[1], 'p', 256);
    EXPECT_EQ(FindInList(probe.c_str(), slots, 2), 1);
    probe[255] = 'z'; // within the first 256: no longer equal
    EXPECT_EQ(FindInList(probe.c_str(), slots, 2), -1);
    // A slot filled to the last byte is cut at 256 too.
    std::memset(slots[1], 'p', kPortSlotSize);
    EXPECT_EQ(FindInList(std::string(256, 'p').c_str(), slots, 2), 1);
}

TEST(SerialPortExists, ListsButNeverOpens) {
    SetSerialPortRootsForTesting(nullptr, nullptr); // the system's, whatever a test set before
    ScratchDir dir;
    writeFileBytes(dir.file("ttyUSB0"), "");
    EXPECT_FALSE(SerialPortExists(dir.file("ttyUSB0").c_str())); // not under /dev
    EXPECT_FALSE(SerialPortExists("/dev/null"));
    EXPECT_FALSE(SerialPortExists(""));
    EXPECT_FALSE(SerialPortExists(nullptr));
    SerialPortExists("/dev/ttyS0"); // whatever this machine has: only a listing

    PortSlot list[kPortListSlots];
    int count = -1;
    ASSERT_TRUE(ListSerialPorts(list, count));
    ASSERT_GE(count, 0);
    ASSERT_LE(count, kPortListSlots);
    // Only the form: other tests may add and remove links in /dev meanwhile.
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(std::strncmp(list[i], "/dev/", 5), 0) << list[i];
}

TEST(SerialPortExists, FindsALinkToAPseudoTerminalInTheTestRoots) {
    std::string link;
    bool found = false;
    bool slaveItself = true;
    {
        ListedPort port("ttyKRVWSERIAL");
        ASSERT_TRUE(port.ok());
        link = port.path();
        found = SerialPortExists(link.c_str());
        slaveItself = SerialPortExists(port.terminal().slavePath().c_str());
    }
    EXPECT_TRUE(found);
    EXPECT_FALSE(slaveItself); // listed under the link's name only
    EXPECT_FALSE(SerialPortExists(link.c_str()));
}

} // namespace
