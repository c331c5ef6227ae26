#include "Serialports.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kMaxName = kPortSlotSize - 1;
// The serial-core code of a UART slot with no hardware behind it (PORT_UNKNOWN).
constexpr long kUnknownUart = 0;

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Compares two runs of digits by their value.
int compareNumbers(const char*& a, const char*& b) {
    while (*a == '0' && isDigit(a[1]))
        ++a;
    while (*b == '0' && isDigit(b[1]))
        ++b;
    const char* endA = a;
    const char* endB = b;
    while (isDigit(*endA))
        ++endA;
    while (isDigit(*endB))
        ++endB;
    int order = (endA - a) < (endB - b) ? -1 : ((endA - a) > (endB - b) ? 1 : 0);
    if (order == 0)
        order = std::strncmp(a, b, static_cast<size_t>(endA - a));
    a = endA;
    b = endB;
    return order;
}

// Name order with digit runs compared as numbers: ttyS2 < ttyS10 < ttyUSB0.
bool naturalLess(const std::string& left, const std::string& right) {
    const char* a = left.c_str();
    const char* b = right.c_str();
    while (*a != '\0' && *b != '\0') {
        if (isDigit(*a) && isDigit(*b)) {
            const int order = compareNumbers(a, b);
            if (order != 0)
                return order < 0;
            continue;
        }
        if (*a != *b)
            return static_cast<unsigned char>(*a) < static_cast<unsigned char>(*b);
        ++a;
        ++b;
    }
    if (*a != *b)
        return *a == '\0';
    return left < right; // "ttyS01" and "ttyS1": any fixed order
}

bool readDirectory(const char* path, std::vector<std::string>& names) {
    DIR* dir = opendir(path);
    if (dir == nullptr)
        return false;
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    closedir(dir);
    return true;
}

bool isLink(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// The UART driver registers every slot it may have; a slot without a chip says type 0.
bool isUartPlaceholder(const std::string& entry) {
    FILE* file = std::fopen((entry + "/type").c_str(), "r");
    if (file == nullptr)
        return false;
    char text[32] = {};
    const bool read = std::fgets(text, sizeof text, file) != nullptr;
    std::fclose(file);
    char* end = nullptr;
    const long type = std::strtol(text, &end, 10);
    return read && end != text && type == kUnknownUart;
}

// "/dev/pts/N" or, for a test root, "<devDir>/pts/N".
bool isPtySlave(const std::string& target, const std::string& root) {
    const std::string prefix = root + "/pts/";
    if (target.compare(0, prefix.size(), prefix) != 0 || target.size() == prefix.size())
        return false;
    return std::all_of(target.begin() + static_cast<long>(prefix.size()), target.end(), isDigit);
}

std::string realPath(const std::string& path) {
    char resolved[PATH_MAX] = {};
    return realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

// A link that leads to a pseudo-terminal or to one of the hardware ports
// (`hardware`: their device nodes' real paths).
bool leadsToPort(const std::string& link, const std::string& devRoot,
                 const std::vector<std::string>& hardware) {
    char stated[PATH_MAX] = {};
    const ssize_t length = readlink(link.c_str(), stated, sizeof stated - 1);
    // /dev/stdin and its kind go through /proc to whoever looks: never a port.
    if (length <= 0 || std::strncmp(stated, "/proc/", 6) == 0)
        return false;
    const std::string resolved = realPath(link);
    if (resolved.empty())
        return false;
    return isPtySlave(resolved, "/dev") || (!devRoot.empty() && isPtySlave(resolved, devRoot)) ||
           std::find(hardware.begin(), hardware.end(), resolved) != hardware.end();
}

bool hardwarePorts(const char* sysClassTty, std::vector<std::string>& names) {
    std::vector<std::string> entries;
    if (!readDirectory(sysClassTty, entries))
        return false;
    for (const std::string& name : entries) {
        const std::string entry = std::string(sysClassTty) + "/" + name;
        if (isLink(entry + "/device") && !isUartPlaceholder(entry))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end(), naturalLess);
    return true;
}

// The links in `folder` that lead to a port, as folder/NAME in name order.
void portLinks(const std::string& folder, const std::string& devRoot,
               const std::vector<std::string>& hardware, std::vector<std::string>& paths) {
    std::vector<std::string> entries;
    if (!readDirectory(folder.c_str(), entries))
        return;
    std::sort(entries.begin(), entries.end(), naturalLess);
    for (const std::string& name : entries) {
        const std::string link = folder + "/" + name;
        if (isLink(link) && leadsToPort(link, devRoot, hardware))
            paths.push_back(link);
    }
}

// Adds devDir/name unless it is too long or listed already. False when full.
bool append(const std::string& path, PortSlot* list, int capacity, int& count) {
    if (count >= capacity)
        return false;
    if (path.size() > static_cast<size_t>(kMaxName) || FindInList(path.c_str(), list, count) >= 0)
        return true;
    std::memcpy(list[count], path.c_str(), path.size() + 1);
    ++count;
    return true;
}

const char* const kSystemTty = "/sys/class/tty";
const char* const kSystemDev = "/dev";

struct PortRoots {
    std::string sysClassTty = kSystemTty;
    std::string devDir = kSystemDev;
};

// Where ListSerialPorts looks: the system's roots unless a test set others.
PortRoots& portRoots() {
    static PortRoots roots;
    return roots;
}

} // namespace

void SetSerialPortRootsForTesting(const char* sysClassTty, const char* devDir) {
    portRoots().sysClassTty = sysClassTty != nullptr ? sysClassTty : kSystemTty;
    portRoots().devDir = devDir != nullptr ? devDir : kSystemDev;
}

bool ListSerialPortsIn(const char* sysClassTty, const char* devDir, PortSlot* list, int capacity,
                       int& count) {
    count = 0;
    if (sysClassTty == nullptr || devDir == nullptr || list == nullptr)
        return false;
    std::vector<std::string> hardware;
    if (!hardwarePorts(sysClassTty, hardware))
        return false;
    const std::string prefix = std::string(devDir) + "/";
    std::vector<std::string> paths;
    std::vector<std::string> nodes; // the hardware ports' device nodes, resolved
    for (const std::string& name : hardware) {
        paths.push_back(prefix + name);
        if (std::string node = realPath(prefix + name); !node.empty())
            nodes.push_back(node);
    }
    // Then the names that stay when an adapter moves to another socket: the
    // system's links by id and by path, and a lab's own links in devDir
    // (from a udev rule, or to a pseudo-terminal that stands for a device).
    const std::string devRoot = realPath(devDir);
    for (const char* folder : {"", "/serial/by-id", "/serial/by-path"})
        portLinks(devDir + std::string(folder), devRoot, nodes, paths);
    for (const std::string& path : paths) {
        if (!append(path, list, capacity, count))
            return true;
    }
    return true;
}

bool ListSerialPorts(PortSlot* list, int& count) {
    const PortRoots& roots = portRoots();
    return ListSerialPortsIn(roots.sysClassTty.c_str(), roots.devDir.c_str(), list, kPortListSlots,
                             count);
}

int FindInList(const char* name, const PortSlot* list, int slots) {
    if (name == nullptr || list == nullptr)
        return -1;
    for (int i = 0; i < slots; ++i) {
        // Both cut at 256 characters: equal when their first 256 agree.
        if (std::strncmp(name, list[i], kMaxName) == 0)
            return i;
    }
    return -1;
}

bool SerialPortExists(const char* name) {
    if (name == nullptr)
        return false;
    PortSlot probe = {};
    std::strncpy(probe, name, kMaxName);
    PortSlot ports[kPortListSlots];
    int count = 0;
    if (!ListSerialPorts(ports, count))
        return false;
    return FindInList(probe, ports, count) >= 0;
}
