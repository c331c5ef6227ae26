#include "Conexoesrede.h"

#include <cstring>

namespace {

constexpr int kOk = 0;
constexpr int kVerificacaoFalhou = 1;
constexpr int kConsultaFalhou = 2;
constexpr int kQuantidadeInvalida = 3;

// About a megabyte, laid out once for the whole run: ten slots of a 100,000-byte ring.
SlotDeConexao g_slots[kSlotsDeConexao];

void esvaziar(SlotDeConexao& s) {
    s.escrita = 0;
    s.leitura = 0;
    s.anel[0] = 0;
}

void marcarLivre(SlotDeConexao& s) {
    s.livre = 1;
    s.conexao = nullptr;
    esvaziar(s);
}

bool slotValido(int slot) {
    return slot >= 0 && slot < kSlotsDeConexao;
}

// The slot must be in use by this very connection. A slot number outside the
// table, or a null connection, never passes: a free slot holds null.
bool pertence(const ConexaoCliente* conexao, int slot) {
    if (conexao == nullptr || !slotValido(slot))
        return false;
    const SlotDeConexao& s = g_slots[slot];
    return s.livre == 0 && s.conexao == conexao;
}

int mantidos(const SlotDeConexao& s) {
    const int d = s.escrita - s.leitura;
    return d >= 0 ? d : d + kTamanhoDoAnel;
}

// An index that reaches the end of the ring starts it again.
int32_t avancar(int32_t indice, int n) {
    const int32_t novo = indice + n;
    return novo >= kTamanhoDoAnel ? novo - kTamanhoDoAnel : novo;
}

} // namespace

void InicializarTabelaDeConexoes() {
    for (SlotDeConexao& s : g_slots)
        marcarLivre(s);
}

int AlocarSlot(ConexaoCliente* conexao, int& slot) {
    slot = -1;
    if (conexao == nullptr)
        return kVerificacaoFalhou;
    for (int i = 0; i < kSlotsDeConexao; ++i) {
        SlotDeConexao& s = g_slots[i];
        if (s.livre != 1)
            continue;
        s.livre = 0;
        s.conexao = conexao;
        esvaziar(s);
        slot = i;
        return kOk;
    }
    return kVerificacaoFalhou;
}

int LiberarSlot(ConexaoCliente* conexao, int slot) {
    if (!pertence(conexao, slot))
        return kVerificacaoFalhou;
    marcarLivre(g_slots[slot]);
    return kOk;
}

int BytesNoAnel(ConexaoCliente* conexao, int slot, int& quantidade) {
    if (!pertence(conexao, slot))
        return kVerificacaoFalhou;
    quantidade = mantidos(g_slots[slot]);
    return kOk;
}

int EspacoLivre(ConexaoCliente* conexao, int slot, int& quantidade) {
    if (!pertence(conexao, slot))
        return kVerificacaoFalhou;
    quantidade = kCapacidadeDoAnel - mantidos(g_slots[slot]);
    return kOk;
}

int AnexarAoAnel(ConexaoCliente* conexao, int slot, const unsigned char* bytes, int n) {
    if (!pertence(conexao, slot))
        return kVerificacaoFalhou;
    int livre = 0;
    if (EspacoLivre(conexao, slot, livre) != kOk)
        return kConsultaFalhou;
    if (n < 0 || n > livre || (bytes == nullptr && n > 0))
        return kQuantidadeInvalida;
    if (n == 0)
        return kOk; // nothing to copy (and no null pointer handed to memcpy)

    SlotDeConexao& s = g_slots[slot];
    const int ateOFim = kTamanhoDoAnel - s.escrita;
    // Below the read index the free space is one piece; otherwise it is one
    // piece only while the bytes fit before the end of the ring.
    if (s.escrita < s.leitura || n <= ateOFim) {
        std::memcpy(s.anel + s.escrita, bytes, static_cast<size_t>(n));
        s.escrita = avancar(s.escrita, n);
        return kOk;
    }
    std::memcpy(s.anel + s.escrita, bytes, static_cast<size_t>(ateOFim));
    std::memcpy(s.anel, bytes + ateOFim, static_cast<size_t>(n - ateOFim));
    s.escrita = n - ateOFim;
    return kOk;
}

int EspiarAnel(ConexaoCliente* conexao, int slot, unsigned char* destino, int n) {
    if (!pertence(conexao, slot))
        return kVerificacaoFalhou;
    int guardados = 0;
    if (BytesNoAnel(conexao, slot, guardados) != kOk)
        return kConsultaFalhou;
    if (n < 0 || n > guardados || (destino == nullptr && n > 0))
        return kQuantidadeInvalida;
    if (n == 0)
        return kOk;

    const SlotDeConexao& s = g_slots[slot];
    const int ateOFim = kTamanhoDoAnel - s.leitura;
    if (s.leitura <= s.escrita || n <= ateOFim) {
        std::memcpy(destino, s.anel + s.leitura, static_cast<size_t>(n));
        return kOk;
    }
    std::memcpy(destino, s.anel + s.leitura, static_cast<size_t>(ateOFim));
    std::memcpy(destino + ateOFim, s.anel, static_cast<size_t>(n - ateOFim));
    return kOk;
}

int ConsumirDoAnel(ConexaoCliente* conexao, int slot, int n) {
    if (!pertence(conexao, slot))
        return kVerificacaoFalhou;
    int guardados = 0;
    if (BytesNoAnel(conexao, slot, guardados) != kOk)
        return kConsultaFalhou;
    if (n < 0 || n > guardados)
        return kQuantidadeInvalida;

    SlotDeConexao& s = g_slots[slot];
    const int ateOFim = kTamanhoDoAnel - s.leitura;
    if (s.leitura <= s.escrita || n <= ateOFim)
        s.leitura = avancar(s.leitura, n);
    else
        s.leitura = n - ateOFim;
    return kOk;
}

const SlotDeConexao& SlotParaTeste(int slot) {
    return g_slots[slotValido(slot) ? slot : 0];
}
