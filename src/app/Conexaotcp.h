// A client connection of the tracers' TCP server over a QTcpSocket.
#pragma once

#include "Conexaocliente.h"

#include <QObject>
#include <string>

class QTcpSocket;

class ConexaoTcp : public QObject, public ConexaoCliente {
    Q_OBJECT

public:
    // Takes the socket over (it becomes a child of this object).
    ConexaoTcp(QTcpSocket* socket, QObject* parent);

    bool conectada() const override;
    int receber(unsigned char* destino, int maximo) override;
    // The socket keeps what it cannot send at once and sends it, in order, as
    // the peer takes it: a send is never cut short.
    bool enviar(const unsigned char* bytes, int quantidade) override;
    void fechar() override;
    std::string enderecoRemoto() const override;

    QTcpSocket* socket() const { return m_socket; }
    // Bytes received and not yet taken.
    bool haBytesEsperando() const;

    // The connection has ended (the device hung up, the server was closed):
    // its slot is released at once and the object deleted from the event
    // loop. Later calls change nothing.
    void encerrar();
    bool encerrada() const { return m_encerrada; }

private:
    QTcpSocket* m_socket;
    bool m_encerrada = false;
};
