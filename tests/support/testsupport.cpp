#include "testsupport.h"

#include <dirent.h>
#include <stdexcept>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "krvw-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a scratch folder");
    m_path = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    // A test may have made a folder read-only; give write access back first.
    for (auto& entry : std::filesystem::recursive_directory_iterator(m_path, ec))
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

ScratchHome::ScratchHome() {
    const char* before = getenv("HOME");
    m_hadHome = before != nullptr;
    if (m_hadHome)
        m_before = before;
    setenv("HOME", m_dir.path().c_str(), 1);
}

ScratchHome::~ScratchHome() {
    if (m_hadHome)
        setenv("HOME", m_before.c_str(), 1);
    else
        unsetenv("HOME");
}

std::string readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool fileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> listDir(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto& entry : std::filesystem::directory_iterator(path, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string testDataPath(const std::string& name) {
    return std::string(KRVW_TEST_DATA) + "/" + name;
}

PackedSample readPackedSample() {
    PackedSample sample;
    std::istringstream in(readFileBytes(testDataPath("reading/packed-binary-512.txt")));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "header") {
            std::getline(fields >> std::ws, sample.header);
        } else if (kind == "wire") {
            for (std::string hex; fields >> hex;)
                sample.wire += static_cast<char>(std::stoi(hex, nullptr, 16));
        } else if (kind == "radii") {
            std::string list;
            fields >> list;
            std::istringstream values(list);
            for (std::string value; std::getline(values, value, ';');)
                sample.radii.push_back(std::stoi(value));
        }
    }
    return sample;
}
