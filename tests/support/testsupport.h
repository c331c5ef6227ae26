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

// HOME in a fresh scratch folder for the object's life, so that a reading a
// failed save keeps in the pending folder lands there, never in the home of
// the user running the tests.
class ScratchHome {
public:
    ScratchHome();
    ~ScratchHome();
    ScratchHome(const ScratchHome&) = delete;
    ScratchHome& operator=(const ScratchHome&) = delete;
    const std::string& path() const { return m_dir.path(); }
    // Where a failed save keeps its reading: path()/krvw/pendentes.
    std::string pending() const { return path() + "/krvw/pendentes"; }

private:
    ScratchDir m_dir;
    std::string m_before;
    bool m_hadHome = false;
};

std::string readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
std::vector<std::string> listDir(const std::string& path);
std::string testDataPath(const std::string& name);

// The packed binary (format 4) radius list of a real tracer's log
// (data/reading/packed-binary-512.txt): its header value, the bytes that
// followed "R=" up to the CR, and the radii they decode to.
struct PackedSample {
    std::string header;
    std::string wire;
    std::vector<int> radii;
};
PackedSample readPackedSample();
