// Helpers shared by the tests: a recording user interface and scratch folders.
#pragma once

#include "Userinterface.h"

#include <string>
#include <vector>

class FakeUi : public UserInterface {
public:
    void showMessage(const std::string& text) override { messages.push_back(text); }
    void setClipboardText(const std::string& text) override {
        clipboard = text;
        ++clipboardSets;
    }
    void showImage(const unsigned char* bmp, int size) override {
        image.assign(bmp, bmp + size);
        ++imagesShown;
    }

    std::vector<std::string> messages;
    std::string clipboard;
    int clipboardSets = 0;
    std::vector<unsigned char> image;
    int imagesShown = 0;
};

// A fresh folder under the system's temporary directory, removed with its
// content when the object goes away. path() ends without a separator.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
std::vector<std::string> listDir(const std::string& path);
std::string testDataPath(const std::string& name);
