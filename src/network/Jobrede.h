// What the message handler (Irxserver.cpp) and the job decoding (Jobrede.cpp)
// share inside the network protocol unit; not for other units.
#pragma once

#include "Tracedata.h"

#include <cstdint>

constexpr int kTamanhoPayloadPedido = 16; // Job request payload, never looked at
constexpr int kTamanhoIdentificacao = 16; // Job identification payload: the job number text

// Overwrites the job identification text with the 16 bytes at `texto`.
void GuardarIdentificacaoJob(const unsigned char* texto);

// The job identification text into the record's `job`, the rest of it zero.
void CopiarIdentificacaoJob(struct_tracedata& registro);

// The 14-byte Error message (payload 0x01 0x00) with the words given: its length.
[[nodiscard]] int MontarMensagemErro(unsigned char* resposta, uint16_t palavraA, uint16_t palavraB);
