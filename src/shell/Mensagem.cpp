#include "Mensagem.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>

#include <deque>

namespace {

// A box runs an event loop of its own inside the handler that opened it, and
// the readings that come meanwhile may open boxes of their own, one inside
// the other. While nobody answers (a busy lab, ten tracers), that would nest
// event loops without end; past this depth a message waits, in order, until
// an open box is answered.
constexpr int kCaixasAninhadasMax = 8;

MessageFunction g_messageFunction;
int g_caixasAbertas = 0;
std::deque<QString> g_emEspera;

void mostrarProximaEmEspera() {
    if (g_emEspera.empty() || g_caixasAbertas >= kCaixasAninhadasMax)
        return;
    const QString text = g_emEspera.front();
    g_emEspera.pop_front();
    MostrarMensagem(text);
}

} // namespace

void MostrarMensagem(const QString& text) {
    if (g_messageFunction) {
        g_messageFunction(text);
        return;
    }
    if (g_caixasAbertas >= kCaixasAninhadasMax) {
        g_emEspera.push_back(text);
        return;
    }
    ++g_caixasAbertas;
    {
        QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text,
                        QMessageBox::Ok, QApplication::activeWindow());
        box.exec();
    }
    --g_caixasAbertas;
    // From the event loop, so that the handler that was waiting on this box goes on first.
    if (!g_emEspera.empty())
        QTimer::singleShot(0, qApp, mostrarProximaEmEspera);
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
