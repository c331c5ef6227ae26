// A client connection of the tracers' TCP server over a QTcpSocket.
#pragma once

#include "Conexaocliente.h"

#include <QObject>
#include <functional>
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

    // Work on this connection that may show a message box. A box runs an
    // event loop of its own, so the connection can end (the device hangs up,
    // the server is closed) while such work is still on the stack: the
    // connection is then released only when the last of it has returned.
    //
    // Runs `tarefa` later, from the event loop, after what is already queued.
    void postar(std::function<void()> tarefa);
    // The connection has ended: its slot is released and the object deleted
    // once no work of it is running or queued; at once when none is. Later
    // calls change nothing.
    void encerrar();
    bool encerrada() const { return m_encerrada; }

private:
    void liberarSeOcioso();

    QTcpSocket* m_socket;
    int m_emCurso = 0;  // work running (a message box inside it lets more run)
    int m_postadas = 0; // work queued and not yet started
    bool m_encerrada = false;
};
