// One client connection of the tracers' TCP server, as the network service
// sees it: the shell implements it over its socket class, tests over fakes.
#pragma once

#include "Tracercapture.h"

#include <memory>
#include <string>

class ConexaoCliente {
public:
    virtual ~ConexaoCliente() = default;

    // True while the connection is open.
    virtual bool conectada() const = 0;
    // Takes up to `maximo` received bytes into `destino`: their count, or -1
    // when nothing can be read now.
    virtual int receber(unsigned char* destino, int maximo) = 0;
    // Sends all `quantidade` bytes (a part the socket does not take at once is
    // sent later, in order). False when the connection failed.
    virtual bool enviar(const unsigned char* bytes, int quantidade) = 0;
    // Ends the connection; its disconnect notification follows.
    virtual void fechar() = 0;
    // The device's "address:port", for the capture's header; empty when unknown.
    virtual std::string enderecoRemoto() const { return {}; }

    // The connection's slot in the connection table; -1 when it got none.
    int slot = -1;
    // The connection's capture file, from accept to release; null unless
    // support asked for one.
    std::unique_ptr<TracerCapture> captura;
};
