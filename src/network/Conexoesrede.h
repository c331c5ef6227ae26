// The table of the networked tracers' connections: ten slots, each with the
// connection that owns it and a receive ring of 100,000 bytes into which the
// pieces of its byte stream are appended until whole messages can be taken out.
//
// Every operation but the first two begins with the ownership check: the slot
// must be in use by that very connection, else the operation changes nothing
// and returns 1. All memory is static; nothing is allocated per connection.
#pragma once

#include <cstdint>

class ConexaoCliente;

constexpr int kSlotsDeConexao = 10;
constexpr int kTamanhoDoAnel = 100000;
// One byte of the ring always stays empty, so that full and empty differ.
constexpr int kCapacidadeDoAnel = kTamanhoDoAnel - 1;

struct SlotDeConexao {
    uint8_t livre;           // 1 free, 0 in use
    ConexaoCliente* conexao; // the owner; null while free
    unsigned char anel[kTamanhoDoAnel];
    int32_t escrita; // where the next received byte goes
    int32_t leitura; // the oldest byte not yet taken out
};

// All slots free, rings empty. Once, when the main window is first shown.
void InicializarTabelaDeConexoes();

// The lowest free slot for `conexao`: 0 and its number, or 1 and -1 when all are in use.
[[nodiscard]] int AlocarSlot(ConexaoCliente* conexao, int& slot);

// 0 the slot is free again (ring emptied); 1 the check failed, nothing changed.
[[nodiscard]] int LiberarSlot(ConexaoCliente* conexao, int slot);

// 0 and the count of bytes held; 1 on a failed check (count untouched).
[[nodiscard]] int BytesNoAnel(ConexaoCliente* conexao, int slot, int& quantidade);

// 0 and 99,999 minus the bytes held; 1 on a failed check.
[[nodiscard]] int EspacoLivre(ConexaoCliente* conexao, int slot, int& quantidade);

// Appends n bytes behind those held. 0 stored; 1 check failed; 2 the free-space
// query failed; 3 n is negative or larger than the free space: nothing stored.
[[nodiscard]] int AnexarAoAnel(ConexaoCliente* conexao, int slot, const unsigned char* bytes,
                               int n);

// Copies the n oldest bytes to `destino`, leaving the ring as it is. 0 copied;
// 1 check failed; 2 the bytes-held query failed; 3 n is negative or more than
// is held: nothing copied.
[[nodiscard]] int EspiarAnel(ConexaoCliente* conexao, int slot, unsigned char* destino, int n);

// Removes the n oldest bytes. Codes as EspiarAnel; nothing removed on failure.
[[nodiscard]] int ConsumirDoAnel(ConexaoCliente* conexao, int slot, int n);

// The slot itself, for tests that look at the indices.
const SlotDeConexao& SlotParaTeste(int slot);
