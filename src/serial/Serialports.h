// Which serial ports the system has: the hardware terminals (on-board UARTs,
// USB adapters, modems), then the links that lead to one of them or to a
// pseudo-terminal (what socat and the like create for a device on the
// network): in the device folder, and the system's stable names of USB
// adapters under serial/by-id and serial/by-path.
#pragma once

constexpr int kPortSlotSize = 257; // 256 characters + NUL
constexpr int kPortListSlots = 100;
using PortSlot = char[kPortSlotSize];

// Fills `list` (kPortListSlots slots) with the ports of /sys/class/tty and /dev.
// True when the terminal classes could be read, even with no ports; count is 0
// on every failure.
bool ListSerialPorts(PortSlot* list, int& count);

// Index of the first of `slots` slots equal to `name`, both cut at 256
// characters and compared case-sensitively; -1 when none is.
int FindInList(const char* name, const PortSlot* list, int slots);

// Whether ListSerialPorts lists `name`. Opens no device.
bool SerialPortExists(const char* name);

// Makes ListSerialPorts and SerialPortExists look in other roots (as
// ListSerialPortsIn does), so that tests can list a link to a pseudo-terminal
// from a folder of their own, for any user, instead of /dev (root's alone).
// nullptr gives back the system's own: /sys/class/tty, /dev.
void SetSerialPortRootsForTesting(const char* sysClassTty, const char* devDir);

// The same enumeration over other roots, for tests: sysClassTty ("/sys/class/tty")
// and devDir ("/dev"). Hardware terminals first (entries with a `device` link,
// without the placeholders of absent UARTs, whose `type` is 0), in name order with
// numbers compared as numbers (ttyS2 before ttyS10), listed as devDir/NAME; then
// the links in devDir, devDir/serial/by-id and devDir/serial/by-path, folder by
// folder, that resolve to one of those terminals or to a pseudo-terminal, under
// the link's own path, in the same order. No name twice; names over 256
// characters are left out; listing stops when `capacity` slots are full.
bool ListSerialPortsIn(const char* sysClassTty, const char* devDir, PortSlot* list, int capacity,
                       int& count);
