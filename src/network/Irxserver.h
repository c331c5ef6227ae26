// The binary message protocol of the networked NIDEK LT1000, LT1200 and ICE
// tracers: a 9-byte header (lead byte, type, 0x00, word A, word B, payload
// length), the payload, two check bytes and the terminator 0x19. The device
// leads; every whole message is answered at once, and the payload of a Job data
// message is decoded into the frame record (Jobrede).
//
// What carries over between messages is process-wide and shared by every
// connection: the frame record, and Jobrede's relay store of the last job
// received (sent back on a Job request) and job identification text.
#pragma once

#include "Jobrede.h"
#include "Tracedata.h"

#include <cstdint>

constexpr int kTamanhoCabecalho = 9; // lead, type, 0x00, word A, word B, length
constexpr int kTamanhoMoldura = 12;  // header + 2 check bytes + terminator
constexpr unsigned char kTerminador = 0x19;
constexpr unsigned char kLiderAccept = 0x17;
constexpr unsigned char kLiderOutros = 0x16;
constexpr int kMensagemJob = kPayloadJob + kTamanhoMoldura; // 2084: the shortest Job data
constexpr int kTamanhoBufferMensagem = 10000;               // one whole message

// Message types.
constexpr int kStartRequest = 1;
constexpr int kAccept = 2;
constexpr int kJobRequest = 3;
constexpr int kJobData = 4;
constexpr int kEndRequest = 5;
constexpr int kConnectionEnded = 6;
constexpr int kErrorMessage = 7;
constexpr int kJobIdentification = 8;

// Outcomes of TratarMensagem.
constexpr int kResultadoNada = 0;       // go on with the next message
constexpr int kResultadoTracado = 2;    // a tracing is in the frame record: save it
constexpr int kResultadoEnviarJob = 3;  // send the job message next
constexpr int kResultadoInvalido = -1;  // the device sent invalid information
constexpr int kResultadoEncerrado = -2; // the device ended the connection
constexpr int kResultadoErro = -3;      // the device reported an error

// The first 9 bytes of a message: true, with the payload length (bytes 7 and 8
// read as a signed 16-bit number), when the lead byte and the type agree.
[[nodiscard]] bool VerificarCabecalho(const unsigned char* cabecalho, int& tamanhoPayload);
// The whole length (frame included) of the message this header starts, or -1
// when the stream cannot be followed past it: the header check fails, or the
// length is negative or more than the message buffer holds.
[[nodiscard]] int TamanhoDaMensagem(const unsigned char* cabecalho);

// The type (1 to 8) of a whole message of n bytes, or 0 when it is not one.
[[nodiscard]] int ReconhecerMensagem(const unsigned char* mensagem, int n);

// Writes code, words, length, payload, 0x00 0x00 0x19 into `destino`, which
// holds `capacidade` bytes. The message's length, or 0 when it would not fit
// (nothing written then).
[[nodiscard]] int MontarMensagem(unsigned char* destino, int capacidade,
                                 const unsigned char codigo[3], const unsigned char* payload,
                                 int tamanhoPayload, uint16_t palavraA, uint16_t palavraB);

// Handles one whole message of n bytes: an outcome (above), and in `resposta`
// (kTamanhoBufferMensagem bytes) the reply to send, `tamanhoResposta` bytes,
// 0 when there is none.
[[nodiscard]] int TratarMensagem(const unsigned char* mensagem, int n, unsigned char* resposta,
                                 int& tamanhoResposta, struct_tracedata& registro);

// Decodes a Job data message of n bytes into the relay store and the frame
// record (DecodificarPayloadJob): 2, or -1 when the message is invalid. Its
// blocks are walked up to the message's last byte, the check bytes and the
// terminator included.
[[nodiscard]] int DecodificarJob(const unsigned char* mensagem, int n, struct_tracedata& registro);

// The Job data message answering the Job request `pedido`, built from the relay
// store into `resposta` (kTamanhoBufferMensagem bytes): its length, 2084. When
// no Job data has been received since the program started, the answer is the
// Error message (0x01 0x00) instead, 14 bytes: there is no job to send.
[[nodiscard]] int MontarMensagemJob(unsigned char* resposta, const unsigned char* pedido);
