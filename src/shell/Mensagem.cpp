#include "Mensagem.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QTimer>

#include <deque>

namespace {

MessageFunction g_messageFunction;
QPointer<QMessageBox> g_caixa;  // the box on screen
std::deque<QString> g_emEspera; // asked while it is up, in order

void mostrarProxima() {
    if (g_caixa != nullptr || g_emEspera.empty())
        return;
    // Above a dialog the user has open (the parameters, say), else above the
    // window the user is in.
    QWidget* acima = QApplication::activeModalWidget();
    if (acima == nullptr)
        acima = QApplication::activeWindow();
    auto* caixa = new QMessageBox(QMessageBox::NoIcon, QCoreApplication::applicationName(),
                                  g_emEspera.front(), QMessageBox::Ok, acima);
    g_emEspera.pop_front();
    caixa->setWindowModality(Qt::ApplicationModal);
    QObject::connect(caixa, &QDialog::finished, caixa, &QObject::deleteLater);
    // Answered, or gone with the window above which it stood: the next one.
    QObject::connect(caixa, &QObject::destroyed, qApp,
                     [] { QTimer::singleShot(0, qApp, mostrarProxima); });
    g_caixa = caixa;
    caixa->show();
}

} // namespace

void MostrarMensagem(const QString& text) {
    if (g_messageFunction) {
        g_messageFunction(text);
        return;
    }
    g_emEspera.push_back(text);
    mostrarProxima();
}

void DescartarMensagens() {
    g_emEspera.clear();
    delete g_caixa.data();
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
