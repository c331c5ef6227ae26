// What the core needs from the user interface. The Qt shell implements it with a
// modal message box, the system clipboard and the main window's frame image;
// tests and command-line tools supply their own.
#pragma once

#include <string>

class UserInterface {
public:
    virtual ~UserInterface() = default;
    // A modal message with an OK button; returns when the user has closed it.
    virtual void showMessage(const std::string& text) = 0;
    // Replaces the clipboard's content with the text.
    virtual void setClipboardText(const std::string& text) = 0;
    // Shows the frame picture, given as the bytes of a BMP file.
    virtual void showImage(const unsigned char* bmp, int size) = 0;
};
