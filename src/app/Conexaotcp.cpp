#include "Conexaotcp.h"

#include "Servidorrede.h"

#include <QTcpSocket>

ConexaoTcp::ConexaoTcp(QTcpSocket* socket, QObject* parent) : QObject(parent), m_socket(socket) {
    m_socket->setParent(this);
    // Replies are small and each one is awaited by the tracer: sent at once,
    // not held back until the tracer acknowledges the previous segment.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

bool ConexaoTcp::conectada() const {
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

int ConexaoTcp::receber(unsigned char* destino, int maximo) {
    if (maximo <= 0 || m_socket->bytesAvailable() <= 0)
        return -1;
    const qint64 lidos = m_socket->read(reinterpret_cast<char*>(destino), maximo);
    return lidos > 0 ? static_cast<int>(lidos) : -1;
}

bool ConexaoTcp::enviar(const unsigned char* bytes, int quantidade) {
    if (quantidade <= 0)
        return true;
    if (m_socket->write(reinterpret_cast<const char*>(bytes), quantidade) != quantidade)
        return false;
    // Out now, before whatever the caller does next (the save flow follows the
    // Accept of a tracing); what the socket cannot take yet follows by itself.
    m_socket->flush();
    return true;
}

void ConexaoTcp::fechar() {
    m_socket->close();
}

std::string ConexaoTcp::enderecoRemoto() const {
    QHostAddress endereco = m_socket->peerAddress();
    // The server listens on both stacks: an IPv4 tracer is shown as one.
    bool ipv4 = false;
    const quint32 v4 = endereco.toIPv4Address(&ipv4);
    if (ipv4)
        endereco = QHostAddress(v4);
    const QString texto =
        ipv4 ? endereco.toString() : QStringLiteral("[%1]").arg(endereco.toString());
    return QStringLiteral("%1:%2").arg(texto).arg(m_socket->peerPort()).toStdString();
}

bool ConexaoTcp::haBytesEsperando() const {
    return m_socket->bytesAvailable() > 0;
}

void ConexaoTcp::encerrar() {
    if (m_encerrada)
        return;
    m_encerrada = true;
    // Ended while still connected: the window dropped it (its server closed),
    // which is the program's close, not the device's hang-up.
    if (captura && conectada())
        captura->closed();
    // A slot the table no longer gives this connection is not released: the
    // table refuses.
    ServerSocketZURServerClientDisconnect(*this);
    // Later: this may run inside one of the socket's own signals.
    deleteLater();
}
