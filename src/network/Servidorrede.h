// The events of the tracers' TCP server: a new connection gets a slot of the
// connection table, received bytes go to its ring, whole messages are taken out
// in order and handled, replies go out before their outcome is acted on, and
// the outcomes save a tracing, send the job, or end the connection with a
// message to the user.
//
// The shell delivers the notifications of its socket classes here, one at a
// time on the user-interface thread.
#pragma once

#include "Conexaocliente.h"
#include "Readingfile.h"
#include "Tracedata.h"

#include <string>

class UserInterface;

extern const char* const kMensagemInconsistencia;
extern const char* const kMensagemInvalida;
extern const char* const kMensagemAbortada;
extern const char* const kMensagemErroReportado;
extern const char* const kMensagemConexaoPerdida;
extern const char* const kMensagemErroEnvio;

// What a saved tracing needs besides the frame record.
struct ContextoRede {
    struct_tracedata* registro; // required
    const ReadingContext* leitura;
    std::string diretorioLeitura;
    UserInterface* ui; // messages, clipboard, picture
};

// 0 sent; -1 the connection is no longer open; -2 sending failed and the
// connection was closed. On -1 and -2 `erro` holds the text to show.
[[nodiscard]] int EnviarAoDispositivo(const unsigned char* bytes, int quantidade,
                                      ConexaoCliente& conexao, std::string& erro);

// Takes one whole message out of the connection's ring and handles it: 1 when
// the caller is to look for another, 0 when no whole message is there yet or
// the connection was closed.
[[nodiscard]] int ProcessarMensagem(ConexaoCliente& conexao, ContextoRede& contexto);

// A connection was accepted: its capture starts (when support asked for
// one), and it gets the lowest free slot, or is closed at once.
void ServerSocketZURServerClientConnect(ConexaoCliente& conexao);
// Bytes may be read from the connection: up to 10,000 of them are appended
// to its ring (what does not fit is dropped) and every whole message it holds
// is handled, in order. A connection without a slot is closed; one no longer
// connected is left as it is.
void ServerSocketZURServerClientRead(ConexaoCliente& conexao, ContextoRede& contexto);
// An operation on the connection failed with `codigo`. The connection aborted
// on this side (10053) is closed and the code set to 0 (handled).
void ServerSocketZURServerClientError(ConexaoCliente& conexao, int& codigo);
// The connection ended: its slot is released and its capture ends, with a
// hang-up when the program had not closed it.
void ServerSocketZURServerClientDisconnect(ConexaoCliente& conexao);

// The code of a connection aborted on the system's side.
constexpr int kConexaoAbortada = 10053;
