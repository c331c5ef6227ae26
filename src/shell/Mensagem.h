// The one way the program shows a message to the user, and the Qt side of the
// core's user interface (message box, clipboard, frame picture).
#pragma once

#include "Userinterface.h"

#include <QByteArray>
#include <QString>
#include <functional>

class QLabel;

// Shows `text` in a box with an OK button and returns at once: the box is
// modal for the user (no other window of the program takes input while it is
// up), never for the code that asked, which goes on serving the tracers.
// Boxes are shown one at a time, in the order asked; answering one shows the
// next.
void MostrarMensagem(const QString& text);
// Closes the box on screen and drops the messages waiting for it (the
// program is ending).
void DescartarMensagens();

// Tests replace the message box with their own function; null restores it.
using MessageFunction = std::function<void(const QString&)>;
void setMessageFunctionForTesting(MessageFunction function);

// The core's messages (UTF-8) go to MostrarMensagem; the clipboard is the
// system clipboard; the picture goes to the given label.
class QtUserInterface : public UserInterface {
public:
    explicit QtUserInterface(QLabel* image = nullptr) : m_image(image) {}
    void setImageLabel(QLabel* image) { m_image = image; }

    void showMessage(const std::string& text) override;
    void setClipboardText(const std::string& text) override;
    // The picture is drawn when the window next paints: readings that come
    // faster than that (networked tracers in a burst) show only the last one.
    void showImage(const unsigned char* bmp, int size) override;
    // Draws a picture still waiting, at once.
    void drawPendingImage();

private:
    QLabel* m_image;
    QByteArray m_pendingImage;
};

// The shared UI for code that shows messages outside a window (dialogs).
QtUserInterface& userInterface();
