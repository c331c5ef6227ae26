// The Job data payload of the networked tracers: its fixed layout, its decoding
// (and that of the extended blocks behind it) into the frame record, the relay
// store of the last job received, written back as a payload, and the job
// identification text. It works on payload bytes; the message around them is
// Irxserver's.
//
// The relay store and the job identification text are process-wide, shared by
// every connection.
#pragma once

#include "Tracedata.h"

constexpr int kPayloadJob = 2072;         // the fixed part of the Job data payload
constexpr int kTamanhoIdentificacao = 16; // Job identification payload: the job number text

// Decodes a job payload into the relay store and the frame record. `tamanho`
// bytes may be read from `payload`: at least its kPayloadJob bytes of fixed part,
// then the extended blocks, walked over all of them (a block that would reach
// past them is invalid). A payload whose length and marks pass goes into the
// relay store, and the record is cleared and gets the job identification text,
// the fixed part and the blocks. False when the payload is invalid; on a bad
// block what was written so far stays, in the store and the record.
[[nodiscard]] bool DecodificarPayloadJob(const unsigned char* payload, int tamanho,
                                         struct_tracedata& registro);

// The fixed part of the job in the relay store, written back into `payload`
// (kPayloadJob bytes; the two bytes the decoding never reads as 0): true, or
// false with nothing written when no payload has gone into the store since the
// program started.
[[nodiscard]] bool EscreverPayloadJob(unsigned char* payload);

// Overwrites the job identification text with the 16 bytes at `texto`.
void GuardarIdentificacaoJob(const unsigned char* texto);

// The job identification text into the record's `job`, the rest of it zero.
void CopiarIdentificacaoJob(struct_tracedata& registro);

// The job identification text now held (at most 16 characters).
const char* TextoIdentificacaoJob();

// Back to the state at program start: relay store zero and never filled, no
// job identification. For tests.
void ReiniciarProtocoloRede();
