#include "Mensagem.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>

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
    if (m_image == nullptr || bmp == nullptr || size <= 0)
        return;
    const bool scheduled = !m_pendingImage.isEmpty();
    m_pendingImage = QByteArray(reinterpret_cast<const char*>(bmp), size);
    if (!scheduled)
        QTimer::singleShot(0, m_image, [this] { drawPendingImage(); });
}

void QtUserInterface::drawPendingImage() {
    if (m_image == nullptr || m_pendingImage.isEmpty())
        return;
    QPixmap picture;
    if (picture.loadFromData(m_pendingImage, "BMP"))
        m_image->setPixmap(picture);
    m_pendingImage.clear();
}

QtUserInterface& userInterface() {
    static QtUserInterface ui;
    return ui;
}
