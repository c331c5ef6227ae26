// The connection table: slot allocation, the ownership check and the receive
// rings, the wrap at the end of the ring included.
#include "Conexaocliente.h"
#include "Conexoesrede.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <deque>
#include <random>
#include <vector>

namespace {

// The table only compares connection pointers: any connection will do.
class ConexaoFalsa : public ConexaoCliente {
public:
    bool conectada() const override { return true; }
    int receber(unsigned char*, int) override { return -1; }
    bool enviar(const unsigned char*, int) override { return true; }
    void fechar() override {}
};

std::vector<unsigned char> sequencia(int n, int semente) {
    std::vector<unsigned char> bytes(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<unsigned char>((i * 31 + semente) & 0xFF);
    return bytes;
}

class TabelaDeConexoes : public ::testing::Test {
protected:
    void SetUp() override { InicializarTabelaDeConexoes(); }
    void TearDown() override { InicializarTabelaDeConexoes(); }

    int alocar(ConexaoCliente& conexao) {
        int slot = -99;
        EXPECT_EQ(AlocarSlot(&conexao, slot), 0);
        return slot;
    }

    int mantidos(ConexaoCliente& conexao, int slot) {
        int n = -1;
        EXPECT_EQ(BytesNoAnel(&conexao, slot, n), 0);
        return n;
    }

    int livres(ConexaoCliente& conexao, int slot) {
        int n = -1;
        EXPECT_EQ(EspacoLivre(&conexao, slot, n), 0);
        return n;
    }

    // Moves both indices of an empty ring to `posicao` by passing bytes through it.
    void levarIndicesA(ConexaoCliente& conexao, int slot, int posicao) {
        const std::vector<unsigned char> enchimento(static_cast<size_t>(posicao), 0xEE);
        ASSERT_EQ(AnexarAoAnel(&conexao, slot, enchimento.data(), posicao), 0);
        ASSERT_EQ(ConsumirDoAnel(&conexao, slot, posicao), 0);
        ASSERT_EQ(SlotParaTeste(slot).escrita, posicao % kTamanhoDoAnel);
        ASSERT_EQ(SlotParaTeste(slot).leitura, posicao % kTamanhoDoAnel);
    }

    ConexaoFalsa m_conexoes[kSlotsDeConexao + 1];
};

TEST_F(TabelaDeConexoes, AfterInitialisationEverySlotIsFreeAndEmpty) {
    for (int i = 0; i < kSlotsDeConexao; ++i) {
        const SlotDeConexao& s = SlotParaTeste(i);
        EXPECT_EQ(s.livre, 1) << i;
        EXPECT_EQ(s.conexao, nullptr) << i;
        EXPECT_EQ(s.escrita, 0) << i;
        EXPECT_EQ(s.leitura, 0) << i;
    }
}

TEST_F(TabelaDeConexoes, SlotsAreGivenInOrderAndTheEleventhConnectionGetsNone) {
    for (int i = 0; i < kSlotsDeConexao; ++i) {
        EXPECT_EQ(alocar(m_conexoes[i]), i);
        EXPECT_EQ(SlotParaTeste(i).livre, 0);
        EXPECT_EQ(SlotParaTeste(i).conexao, &m_conexoes[i]);
    }
    int slot = 42;
    EXPECT_EQ(AlocarSlot(&m_conexoes[kSlotsDeConexao], slot), 1);
    EXPECT_EQ(slot, -1);
    for (int i = 0; i < kSlotsDeConexao; ++i)
        EXPECT_EQ(SlotParaTeste(i).conexao, &m_conexoes[i]) << "a full table keeps its owners";
}

TEST_F(TabelaDeConexoes, AReleasedSlotGoesToTheNextConnectionLowestFirst) {
    for (int i = 0; i < kSlotsDeConexao; ++i)
        alocar(m_conexoes[i]);
    ASSERT_EQ(LiberarSlot(&m_conexoes[7], 7), 0);
    ASSERT_EQ(LiberarSlot(&m_conexoes[3], 3), 0);
    EXPECT_EQ(SlotParaTeste(3).livre, 1);
    EXPECT_EQ(SlotParaTeste(3).conexao, nullptr);

    ConexaoFalsa nova;
    EXPECT_EQ(alocar(m_conexoes[kSlotsDeConexao]), 3);
    EXPECT_EQ(alocar(nova), 7);
    int slot = 0;
    EXPECT_EQ(AlocarSlot(&m_conexoes[3], slot), 1);
    EXPECT_EQ(slot, -1);
}

TEST_F(TabelaDeConexoes, AllocationAndReleaseEmptyTheRing) {
    const int slot = alocar(m_conexoes[0]);
    const auto dados = sequencia(500, 1);
    ASSERT_EQ(AnexarAoAnel(&m_conexoes[0], slot, dados.data(), 500), 0);
    ASSERT_EQ(ConsumirDoAnel(&m_conexoes[0], slot, 100), 0);
    ASSERT_EQ(LiberarSlot(&m_conexoes[0], slot), 0);
    EXPECT_EQ(SlotParaTeste(slot).escrita, 0);
    EXPECT_EQ(SlotParaTeste(slot).leitura, 0);

    ASSERT_EQ(alocar(m_conexoes[1]), slot);
    EXPECT_EQ(mantidos(m_conexoes[1], slot), 0);
    EXPECT_EQ(livres(m_conexoes[1], slot), kCapacidadeDoAnel);
}

TEST_F(TabelaDeConexoes, ForeignSlotNumbersAreRefusedAndChangeNothing) {
    const int meu = alocar(m_conexoes[0]);
    const int alheio = alocar(m_conexoes[1]);
    const auto dados = sequencia(40, 2);
    ASSERT_EQ(AnexarAoAnel(&m_conexoes[0], meu, dados.data(), 40), 0);
    ASSERT_EQ(ConsumirDoAnel(&m_conexoes[0], meu, 15), 0);

    ConexaoFalsa* intruso = &m_conexoes[1];
    int quantidade = -7;
    unsigned char destino[8] = {0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A};
    EXPECT_EQ(BytesNoAnel(intruso, meu, quantidade), 1);
    EXPECT_EQ(EspacoLivre(intruso, meu, quantidade), 1);
    EXPECT_EQ(quantidade, -7) << "the count is not written on a failed check";
    EXPECT_EQ(AnexarAoAnel(intruso, meu, dados.data(), 4), 1);
    EXPECT_EQ(EspiarAnel(intruso, meu, destino, 4), 1);
    EXPECT_EQ(destino[0], 0x5A);
    EXPECT_EQ(ConsumirDoAnel(intruso, meu, 4), 1);
    EXPECT_EQ(LiberarSlot(intruso, meu), 1);

    const SlotDeConexao& s = SlotParaTeste(meu);
    EXPECT_EQ(s.livre, 0);
    EXPECT_EQ(s.conexao, &m_conexoes[0]);
    EXPECT_EQ(s.escrita, 40);
    EXPECT_EQ(s.leitura, 15);
    EXPECT_EQ(mantidos(m_conexoes[0], meu), 25);
    EXPECT_EQ(mantidos(m_conexoes[1], alheio), 0);
}

TEST_F(TabelaDeConexoes, AFreeSlotBelongsToNoConnectionNotEvenANullOne) {
    int quantidade = -7;
    unsigned char byte = 1;
    EXPECT_EQ(BytesNoAnel(nullptr, 0, quantidade), 1) << "a free slot holds null";
    EXPECT_EQ(AnexarAoAnel(nullptr, 0, &byte, 1), 1);
    EXPECT_EQ(LiberarSlot(nullptr, 0), 1);
    EXPECT_EQ(BytesNoAnel(&m_conexoes[0], 0, quantidade), 1);
    EXPECT_EQ(quantidade, -7);

    int slot = 42;
    EXPECT_EQ(AlocarSlot(nullptr, slot), 1);
    EXPECT_EQ(slot, -1);
    EXPECT_EQ(SlotParaTeste(0).livre, 1) << "a null connection takes no slot";
    EXPECT_EQ(alocar(m_conexoes[0]), 0);
}

TEST_F(TabelaDeConexoes, TheFormerOwnerOfAReleasedSlotIsRefused) {
    const int slot = alocar(m_conexoes[0]);
    ASSERT_EQ(LiberarSlot(&m_conexoes[0], slot), 0);
    unsigned char byte = 9;
    int quantidade = -7;
    EXPECT_EQ(LiberarSlot(&m_conexoes[0], slot), 1);
    EXPECT_EQ(AnexarAoAnel(&m_conexoes[0], slot, &byte, 1), 1);
    EXPECT_EQ(BytesNoAnel(&m_conexoes[0], slot, quantidade), 1);
    EXPECT_EQ(SlotParaTeste(slot).escrita, 0);
}

TEST_F(TabelaDeConexoes, SlotNumbersOutsideTheTableFailTheCheck) {
    for (int i = 0; i < kSlotsDeConexao; ++i)
        alocar(m_conexoes[i]);
    unsigned char bytes[4] = {1, 2, 3, 4};
    for (int slot : {-1, kSlotsDeConexao, kSlotsDeConexao + 1, 1000, INT_MIN, INT_MAX}) {
        int quantidade = -7;
        EXPECT_EQ(LiberarSlot(&m_conexoes[0], slot), 1) << slot;
        EXPECT_EQ(BytesNoAnel(&m_conexoes[0], slot, quantidade), 1) << slot;
        EXPECT_EQ(EspacoLivre(&m_conexoes[0], slot, quantidade), 1) << slot;
        EXPECT_EQ(AnexarAoAnel(&m_conexoes[0], slot, bytes, 4), 1) << slot;
        EXPECT_EQ(EspiarAnel(&m_conexoes[0], slot, bytes, 0), 1) << slot;
        EXPECT_EQ(ConsumirDoAnel(&m_conexoes[0], slot, 0), 1) << slot;
        EXPECT_EQ(quantidade, -7);
    }
    EXPECT_EQ(mantidos(m_conexoes[0], 0), 0);
    // Tests that ask for a slot outside the table look at slot 0.
    EXPECT_EQ(&SlotParaTeste(-1), &SlotParaTeste(0));
    EXPECT_EQ(&SlotParaTeste(kSlotsDeConexao), &SlotParaTeste(0));
    EXPECT_NE(&SlotParaTeste(9), &SlotParaTeste(0));
}

TEST_F(TabelaDeConexoes, AWriteTenBytesBeforeTheEndWrapsToTheStart) {
    const int slot = alocar(m_conexoes[0]);
    levarIndicesA(m_conexoes[0], slot, kTamanhoDoAnel - 10);
    const auto dados = sequencia(25, 3);
    ASSERT_EQ(AnexarAoAnel(&m_conexoes[0], slot, dados.data(), 25), 0);

    const SlotDeConexao& s = SlotParaTeste(slot);
    EXPECT_EQ(s.escrita, 15);
    EXPECT_EQ(s.leitura, kTamanhoDoAnel - 10);
    EXPECT_EQ(0, std::memcmp(s.anel + kTamanhoDoAnel - 10, dados.data(), 10));
    EXPECT_EQ(0, std::memcmp(s.anel, dados.data() + 10, 15));
    EXPECT_EQ(mantidos(m_conexoes[0], slot), 25);

    std::vector<unsigned char> lido(25);
    ASSERT_EQ(EspiarAnel(&m_conexoes[0], slot, lido.data(), 25), 0);
    EXPECT_EQ(lido, dados);
    EXPECT_EQ(s.leitura, kTamanhoDoAnel - 10) << "peek moves no index";

    // Consuming across the end leaves the read index where the data ends.
    ASSERT_EQ(ConsumirDoAnel(&m_conexoes[0], slot, 20), 0);
    EXPECT_EQ(s.leitura, 10);
    ASSERT_EQ(EspiarAnel(&m_conexoes[0], slot, lido.data(), 5), 0);
    EXPECT_EQ(0, std::memcmp(lido.data(), dados.data() + 20, 5));
}

TEST_F(TabelaDeConexoes, AWriteThatEndsExactlyAtTheEndStartsTheRingAgain) {
    const int slot = alocar(m_conexoes[0]);
    levarIndicesA(m_conexoes[0], slot, kTamanhoDoAnel - 10);
    const auto dados = sequencia(10, 4);
    ASSERT_EQ(AnexarAoAnel(&m_conexoes[0], slot, dados.data(), 10), 0);
    EXPECT_EQ(SlotParaTeste(slot).escrita, 0);
    EXPECT_EQ(mantidos(m_conexoes[0], slot), 10);
    ASSERT_EQ(ConsumirDoAnel(&m_conexoes[0], slot, 10), 0);
    EXPECT_EQ(SlotParaTeste(slot).leitura, 0);
    EXPECT_EQ(mantidos(m_conexoes[0], slot), 0);
}

TEST_F(TabelaDeConexoes, AFullRingHoldsOneByteLessThanItsSize) {
    const int slot = alocar(m_conexoes[0]);
    const auto dados = sequencia(kTamanhoDoAnel, 5);
    EXPECT_EQ(AnexarAoAnel(&m_conexoes[0], slot, dados.data(), kTamanhoDoAnel), 3)
        << "100,000 bytes never fit";
    EXPECT_EQ(SlotParaTeste(slot).escrita, 0);

    ASSERT_EQ(AnexarAoAnel(&m_conexoes[0], slot, dados.data(), kCapacidadeDoAnel), 0);
    EXPECT_EQ(mantidos(m_conexoes[0], slot), 99999);
    EXPECT_EQ(livres(m_conexoes[0], slot), 0);
    const unsigned char um = 0x77;
    EXPECT_EQ(AnexarAoAnel(&m_conexoes[0], slot, &um, 1), 3);
    EXPECT_EQ(SlotParaTeste(slot).escrita, kCapacidadeDoAnel);
    EXPECT_EQ(mantidos(m_conexoes[0], slot), 99999);

    std::vector<unsigned char> lido(kCapacidadeDoAnel);
    ASSERT_EQ(EspiarAnel(&m_conexoes[0], slot, lido.data(), kCapacidadeDoAnel), 0);
    EXPECT_EQ(0, std::memcmp(lido.data(), dados.data(), kCapacidadeDoAnel));
}

TEST_F(TabelaDeConexoes, AFullRingAcrossTheEnd) {
    const int slot = alocar(m_conexoes[0]);
    levarIndicesA(m_conexoes[0], slot, 60000);
    const auto dados = sequencia(kCapacidadeDoAnel, 6);
    ASSERT_EQ(AnexarAoAnel(&m_conexoes[0], slot, dados.data(), kCapacidadeDoAnel), 0);
    EXPECT_EQ(SlotParaTeste(slot).escrita, 59999);
    EXPECT_EQ(livres(m_conexoes[0], slot), 0);
    const unsigned char um = 0x77;
    EXPECT_EQ(AnexarAoAnel(&m_conexoes[0], slot, &um, 1), 3);
    std::vector<unsigned char> lido(kCapacidadeDoAnel);
    ASSERT_EQ(EspiarAnel(&m_conexoes[0], slot, lido.data(), kCapacidadeDoAnel), 0);
    EXPECT_EQ(lido, dados);
}

TEST_F(TabelaDeConexoes, PeekTwiceGivesTheSameBytesOnlyConsumeRemovesThem) {
    const int slot = alocar(m_conexoes[0]);
    const auto dados = sequencia(30, 7);
    ASSERT_EQ(AnexarAoAnel(&m_conexoes[0], slot, dados.data(), 30), 0);
    std::vector<unsigned char> primeiro(12), segundo(12, 0);
    ASSERT_EQ(EspiarAnel(&m_conexoes[0], slot, primeiro.data(), 12), 0);
    ASSERT_EQ(EspiarAnel(&m_conexoes[0], slot, segundo.data(), 12), 0);
    EXPECT_EQ(primeiro, segundo);
    EXPECT_EQ(0, std::memcmp(primeiro.data(), dados.data(), 12));
    EXPECT_EQ(mantidos(m_conexoes[0], slot), 30);

    ASSERT_EQ(ConsumirDoAnel(&m_conexoes[0], slot, 12), 0);
    ASSERT_EQ(EspiarAnel(&m_conexoes[0], slot, segundo.data(), 12), 0);
    EXPECT_EQ(0, std::memcmp(segundo.data(), dados.data() + 12, 12));
}

TEST_F(TabelaDeConexoes, TwelveInAndTwelveOutLeaveNothingWhereverTheIndicesAre) {
    const int slot = alocar(m_conexoes[0]);
    const auto dados = sequencia(12, 8);
    int posicaoAnterior = 0;
    for (int posicao : {0, 1, 50000, 99987, 99988, 99990, 99999}) {
        // Walk forward from where the previous round left the indices.
        const int avanco = (posicao - posicaoAnterior + kTamanhoDoAnel) % kTamanhoDoAnel;
        if (avanco > 0) {
            std::vector<unsigned char> enchimento(static_cast<size_t>(avanco), 0xEE);
            ASSERT_EQ(AnexarAoAnel(&m_conexoes[0], slot, enchimento.data(), avanco), 0);
            ASSERT_EQ(ConsumirDoAnel(&m_conexoes[0], slot, avanco), 0);
        }
        ASSERT_EQ(SlotParaTeste(slot).leitura, posicao);
        ASSERT_EQ(AnexarAoAnel(&m_conexoes[0], slot, dados.data(), 12), 0);
        EXPECT_EQ(mantidos(m_conexoes[0], slot), 12) << posicao;
        ASSERT_EQ(ConsumirDoAnel(&m_conexoes[0], slot, 12), 0);
        EXPECT_EQ(mantidos(m_conexoes[0], slot), 0) << posicao;
        EXPECT_EQ(livres(m_conexoes[0], slot), kCapacidadeDoAnel) << posicao;
        // The indices keep advancing; they are not reset between messages.
        EXPECT_EQ(SlotParaTeste(slot).leitura, (posicao + 12) % kTamanhoDoAnel);
        posicaoAnterior = (posicao + 12) % kTamanhoDoAnel;
    }
}

TEST_F(TabelaDeConexoes, NegativeOrTooLargeCountsChangeNothing) {
    const int slot = alocar(m_conexoes[0]);
    const auto dados = sequencia(20, 9);
    ASSERT_EQ(AnexarAoAnel(&m_conexoes[0], slot, dados.data(), 20), 0);
    unsigned char destino[32];
    std::memset(destino, 0x5A, sizeof destino);

    EXPECT_EQ(AnexarAoAnel(&m_conexoes[0], slot, dados.data(), -1), 3);
    EXPECT_EQ(AnexarAoAnel(&m_conexoes[0], slot, dados.data(), INT_MIN), 3);
    EXPECT_EQ(EspiarAnel(&m_conexoes[0], slot, destino, -1), 3);
    EXPECT_EQ(EspiarAnel(&m_conexoes[0], slot, destino, 21), 3);
    EXPECT_EQ(destino[0], 0x5A) << "nothing copied";
    EXPECT_EQ(ConsumirDoAnel(&m_conexoes[0], slot, -1), 3);
    EXPECT_EQ(ConsumirDoAnel(&m_conexoes[0], slot, 21), 3);
    EXPECT_EQ(SlotParaTeste(slot).escrita, 20);
    EXPECT_EQ(SlotParaTeste(slot).leitura, 0);

    EXPECT_EQ(AnexarAoAnel(&m_conexoes[0], slot, dados.data(), 0), 0);
    EXPECT_EQ(ConsumirDoAnel(&m_conexoes[0], slot, 0), 0);
    EXPECT_EQ(mantidos(m_conexoes[0], slot), 20);
    EXPECT_EQ(ConsumirDoAnel(&m_conexoes[0], slot, 20), 0);
    EXPECT_EQ(mantidos(m_conexoes[0], slot), 0);
}

TEST_F(TabelaDeConexoes, RingsOfDifferentSlotsAreApart) {
    const int a = alocar(m_conexoes[0]);
    const int b = alocar(m_conexoes[1]);
    const auto da = sequencia(100, 11);
    const auto db = sequencia(70, 12);
    ASSERT_EQ(AnexarAoAnel(&m_conexoes[0], a, da.data(), 100), 0);
    ASSERT_EQ(AnexarAoAnel(&m_conexoes[1], b, db.data(), 70), 0);
    std::vector<unsigned char> lido(70);
    ASSERT_EQ(EspiarAnel(&m_conexoes[1], b, lido.data(), 70), 0);
    EXPECT_EQ(lido, db);
    EXPECT_EQ(mantidos(m_conexoes[0], a), 100);
}

// A long random run of appends, peeks and consumes against a plain queue, with
// lengths that often cross the end of the ring and reach its capacity.
TEST_F(TabelaDeConexoes, BehavesLikeAQueueOverALongRandomRun) {
    const int slot = alocar(m_conexoes[0]);
    ConexaoFalsa& c = m_conexoes[0];
    std::deque<unsigned char> modelo;
    std::mt19937 gerador(20240611u);
    std::uniform_int_distribution<int> operacao(0, 2);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<unsigned char> buffer(kTamanhoDoAnel);
    int wraps = 0;

    for (int passo = 0; passo < 4000; ++passo) {
        const int held = static_cast<int>(modelo.size());
        // Lengths around the room left and around what is held, and random ones.
        std::uniform_int_distribution<int> tamanho(0, passo % 7 == 0 ? kTamanhoDoAnel : 30000);
        int n = tamanho(gerador);
        if (passo % 11 == 0)
            n = kCapacidadeDoAnel - held + (passo % 3) - 1;
        if (passo % 13 == 0)
            n = held + (passo % 3) - 1;
        const int escritaAntes = SlotParaTeste(slot).escrita;
        switch (operacao(gerador)) {
        case 0: {
            for (int i = 0; i < n && i < kTamanhoDoAnel; ++i)
                buffer[static_cast<size_t>(i)] = static_cast<unsigned char>(byte(gerador));
            const int esperado = (n < 0 || n > kCapacidadeDoAnel - held) ? 3 : 0;
            ASSERT_EQ(AnexarAoAnel(&c, slot, buffer.data(), n), esperado) << passo;
            if (esperado == 0) {
                modelo.insert(modelo.end(), buffer.begin(), buffer.begin() + n);
                if (SlotParaTeste(slot).escrita < escritaAntes)
                    ++wraps;
            }
            break;
        }
        case 1: {
            const int esperado = (n < 0 || n > held) ? 3 : 0;
            ASSERT_EQ(EspiarAnel(&c, slot, buffer.data(), n), esperado) << passo;
            if (esperado == 0) {
                ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + n, modelo.begin()))
                    << passo;
            }
            break;
        }
        default: {
            const int esperado = (n < 0 || n > held) ? 3 : 0;
            ASSERT_EQ(ConsumirDoAnel(&c, slot, n), esperado) << passo;
            if (esperado == 0)
                modelo.erase(modelo.begin(), modelo.begin() + n);
            break;
        }
        }
        ASSERT_EQ(mantidos(c, slot), static_cast<int>(modelo.size())) << passo;
        ASSERT_EQ(livres(c, slot), kCapacidadeDoAnel - static_cast<int>(modelo.size()));
        const SlotDeConexao& s = SlotParaTeste(slot);
        ASSERT_GE(s.escrita, 0);
        ASSERT_LT(s.escrita, kTamanhoDoAnel);
        ASSERT_GE(s.leitura, 0);
        ASSERT_LT(s.leitura, kTamanhoDoAnel);
    }
    // The whole content at the end, in order.
    const int held = static_cast<int>(modelo.size());
    ASSERT_EQ(EspiarAnel(&c, slot, buffer.data(), held), 0);
    EXPECT_TRUE(std::equal(modelo.begin(), modelo.end(), buffer.begin()));
    EXPECT_GT(wraps, 10) << "the run must cross the end of the ring often";
}

} // namespace
