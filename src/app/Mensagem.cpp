#include "Mensagem.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>

namespace {
MessageFunction g_messageFunction;
}

void MostrarMensagem(const QString& text) {
    if (g_messageFunction) {
        g_messageFunction(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

void setMessageFunctionForTesting(MessageFunction function) {
    g_messageFunction = std::move(function);
}

void QtUserInterface::showMessage(const std::string& text) {
    MostrarMensagem(QString::fromStdString(text));
}

void QtUserInterface::setClipboardText(const std::string& text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

void QtUserInterface::showImage(const unsigned char* bmp, int size) {
    if (m_image == nullptr)
        return;
    QPixmap picture;
    if (picture.loadFromData(bmp, static_cast<uint>(size), "BMP"))
        m_image->setPixmap(picture);
}

QtUserInterface& userInterface() {
    static QtUserInterface ui;
    return ui;
}
