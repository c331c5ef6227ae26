// The server events with scripted connections: slots given and released, the
// byte stream cut into whole messages, replies before outcomes, the closes and
// messages of every failure, and the save of a tracing.
#include "Servidorrede.h"

#include "Conexoesrede.h"
#include "Irxserver.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::string;

// What happened, in order, across the connections and the user interface.
struct Diario {
    std::vector<std::string> eventos;
};

class ConexaoFalsa : public ConexaoCliente {
public:
    explicit ConexaoFalsa(Diario& diario, std::string nome = "c")
        : m_diario(diario), m_nome(std::move(nome)) {}

    bool conectada() const override { return aberta; }
    int receber(unsigned char* destino, int maximo) override {
        if (chegando.empty())
            return -1;
        Bytes& pedaco = chegando.front();
        const int n = std::min<int>(maximo, static_cast<int>(pedaco.size()));
        std::copy(pedaco.begin(), pedaco.begin() + n, destino);
        pedaco.erase(0, static_cast<std::size_t>(n));
        if (pedaco.empty())
            chegando.pop_front();
        return n;
    }
    bool enviar(const unsigned char* bytes, int quantidade) override {
        if (falharEnvio)
            return false;
        enviado.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(quantidade));
        m_diario.eventos.push_back(m_nome + " sent " + std::to_string(quantidade));
        return true;
    }
    void fechar() override {
        aberta = false;
        ++fechamentos;
        m_diario.eventos.push_back(m_nome + " closed");
    }

    bool aberta = true;
    bool falharEnvio = false;
    int fechamentos = 0;
    std::deque<Bytes> chegando;
    Bytes enviado;

private:
    Diario& m_diario;
    std::string m_nome;
};

class UiRegistrada : public FakeUi {
public:
    explicit UiRegistrada(Diario& diario) : m_diario(diario) {}
    void showMessage(const std::string& text) override {
        FakeUi::showMessage(text);
        m_diario.eventos.push_back("message " + text);
    }

private:
    Diario& m_diario;
};

Bytes palavra(uint16_t valor) {
    return Bytes{static_cast<char>(valor & 0xFF), static_cast<char>(valor >> 8)};
}

Bytes mensagem(unsigned char lider, unsigned char tipo, uint16_t a, uint16_t b,
               const Bytes& payload = {}) {
    Bytes m{static_cast<char>(lider), static_cast<char>(tipo), '\0'};
    m += palavra(a) + palavra(b) + palavra(static_cast<uint16_t>(payload.size())) + payload;
    return m + Bytes{'\0', '\0', '\x19'};
}

Bytes accept(uint16_t a, uint16_t b) {
    return mensagem(0x17, 2, a, b);
}

// A Job data message of 2084 bytes: a circle of 25 mm for both eyes.
Bytes jobData(uint16_t a, uint16_t b) {
    Bytes payload(kPayloadJob, '\0');
    payload[0] = 'F';
    for (int olho : {6, 1070}) {
        payload[static_cast<std::size_t>(olho)] = static_cast<char>(2500 & 0xFF);
        payload[static_cast<std::size_t>(olho + 1)] = static_cast<char>(2500 >> 8);
    }
    payload[1028] = static_cast<char>(1800 & 0xFF); // dbl 18.00
    payload[1029] = static_cast<char>(1800 >> 8);
    return mensagem(0x16, 4, a, b, payload);
}

Bytes identificacao(uint16_t a, uint16_t b, const Bytes& job) {
    return mensagem(0x16, 8, a, b, job + Bytes(16 - job.size(), '\0'));
}

class ServidorTest : public ::testing::Test {
protected:
    void SetUp() override {
        InicializarTabelaDeConexoes();
        ReiniciarProtocoloRede();
        clearTraceData(*registro);
        contexto = ContextoRede{registro.get(), &leitura, dir.path() + "/", &ui};
    }

    std::unique_ptr<ConexaoFalsa> conectar(const std::string& nome = "c") {
        auto conexao = std::make_unique<ConexaoFalsa>(diario, nome);
        ServerSocketZURServerClientConnect(*conexao);
        return conexao;
    }
    // The bytes arrive as one piece and the read notification runs.
    void chegar(ConexaoFalsa& conexao, const Bytes& bytes) {
        conexao.chegando.push_back(bytes);
        ServerSocketZURServerClientRead(conexao, contexto);
    }
    std::vector<std::string> arquivos() const { return listDir(dir.path()); }

    Diario diario;
    UiRegistrada ui{diario};
    ScratchDir dir;
    ReadingContext leitura{"NIDEK", "LT1000", false};
    std::unique_ptr<struct_tracedata> registro = std::make_unique<struct_tracedata>();
    ContextoRede contexto{};
};

TEST_F(ServidorTest, SlotsAreGivenLowestFirstAndTheEleventhConnectionIsClosed) {
    std::vector<std::unique_ptr<ConexaoFalsa>> dez;
    for (int i = 0; i < kSlotsDeConexao; ++i) {
        dez.push_back(conectar());
        EXPECT_EQ(dez.back()->slot, i);
    }
    auto decima = conectar("11th");
    EXPECT_EQ(decima->slot, -1);
    EXPECT_EQ(decima->fechamentos, 1);
    ServerSocketZURServerClientDisconnect(*decima); // releases nothing
    for (auto& conexao : dez) {
        chegar(*conexao, mensagem(0x16, 1, 1, 2));
        EXPECT_EQ(conexao->enviado, accept(2, 1));
    }
    ServerSocketZURServerClientDisconnect(*dez[3]);
    EXPECT_EQ(conectar()->slot, 3);
}

TEST_F(ServidorTest, ReadsOnAClosedOrSlotlessConnectionDoNothing) {
    auto conexao = conectar();
    conexao->aberta = false;
    chegar(*conexao, mensagem(0x16, 1, 1, 2));
    EXPECT_EQ(conexao->enviado, "");
    EXPECT_EQ(conexao->chegando.size(), 1u); // not even received

    ConexaoFalsa semSlot(diario);
    chegar(semSlot, mensagem(0x16, 1, 1, 2));
    EXPECT_EQ(semSlot.fechamentos, 1);
    EXPECT_EQ(semSlot.enviado, "");
}

// A tracing in pieces of 1, 500 and 1583 bytes is handled once, after the
// last: its Accept goes out, and only then is the reading file written.
TEST_F(ServidorTest, AJobInPiecesIsSavedOnceAfterItsAccept) {
    auto conexao = conectar();
    chegar(*conexao, identificacao(7, 8, "0000012345"));
    ASSERT_EQ(conexao->enviado, accept(8, 7));
    conexao->enviado.clear();
    const Bytes job = jobData(0x0A0B, 0x0C0D);
    ASSERT_EQ(job.size(), 2084u);
    chegar(*conexao, job.substr(0, 1));
    chegar(*conexao, job.substr(1, 500));
    EXPECT_EQ(conexao->enviado, "");
    EXPECT_TRUE(arquivos().empty());
    diario.eventos.clear();
    chegar(*conexao, job.substr(501));
    EXPECT_EQ(conexao->enviado, accept(0x0C0D, 0x0A0B));
    ASSERT_EQ(arquivos(), std::vector<std::string>{"12345.krvw"});
    ASSERT_EQ(diario.eventos.size(), 2u);
    EXPECT_EQ(diario.eventos[0], "c sent 12");
    EXPECT_EQ(diario.eventos[1], std::string("message ") + kMessageSaveSucceeded);
    EXPECT_EQ(ui.clipboard, dir.path() + "/12345.krvw");

    // The same connection sends the next tracing: a second file.
    chegar(*conexao, identificacao(1, 2, "0000012346") + jobData(3, 4));
    EXPECT_EQ(arquivos().size(), 2u);
    EXPECT_EQ(conexao->fechamentos, 0);
}

TEST_F(ServidorTest, EveryWholeMessageOfAReadIsHandledInOrder) {
    auto conexao = conectar();
    chegar(*conexao, mensagem(0x16, 1, 0x0102, 0x0304) +
                         identificacao(0x0506, 0x0708, "0000012345") +
                         mensagem(0x16, 1, 9, 10).substr(0, 5));
    EXPECT_EQ(conexao->enviado, accept(0x0304, 0x0102) + accept(0x0708, 0x0506));
    EXPECT_STREQ(registro->job, "0000012345");
    int guardados = 0;
    ASSERT_EQ(BytesNoAnel(conexao.get(), conexao->slot, guardados), 0);
    EXPECT_EQ(guardados, 5); // the start of the next message waits
}

TEST_F(ServidorTest, AnInconsistentHeaderClosesTheConnectionOnceTwelveBytesAreThere) {
    auto conexao = conectar();
    chegar(*conexao, Bytes(11, 'A'));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(conexao->fechamentos, 0);
    chegar(*conexao, "A" + mensagem(0x16, 1, 1, 2));
    EXPECT_EQ(ui.messages, std::vector<std::string>{kMensagemInconsistencia});
    EXPECT_EQ(conexao->fechamentos, 1);
    EXPECT_EQ(conexao->enviado, ""); // nothing after it is handled
}

TEST_F(ServidorTest, LengthsTheMessageBufferCannotHoldAreInconsistent) {
    for (uint16_t tamanho : {uint16_t{9989}, uint16_t{0x8000}, uint16_t{0xFFFF}}) {
        ui.messages.clear();
        auto conexao = conectar();
        Bytes m = mensagem(0x16, 4, 1, 2);
        m[7] = static_cast<char>(tamanho & 0xFF);
        m[8] = static_cast<char>(tamanho >> 8);
        chegar(*conexao, m);
        EXPECT_EQ(ui.messages, std::vector<std::string>{kMensagemInconsistencia}) << tamanho;
        EXPECT_EQ(conexao->fechamentos, 1);
        ServerSocketZURServerClientDisconnect(*conexao);
    }
    // The largest message the buffer holds is waited for, not refused.
    auto conexao = conectar();
    Bytes m = mensagem(0x16, 4, 1, 2);
    m[7] = static_cast<char>(9988 & 0xFF);
    m[8] = static_cast<char>(9988 >> 8);
    ui.messages.clear();
    chegar(*conexao, m);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(conexao->fechamentos, 0);
}

TEST_F(ServidorTest, OutcomesThatEndTheConnection) {
    struct Caso {
        Bytes mensagem;
        const char* texto;
    };
    Bytes semExtended = jobData(1, 2);
    semExtended.insert(semExtended.size() - 3, Bytes(16, 'x'));
    semExtended[7] = static_cast<char>((kPayloadJob + 16) & 0xFF);
    semExtended[8] = static_cast<char>((kPayloadJob + 16) >> 8);
    const Caso casos[] = {
        {mensagem(0x16, 1, 1, 2).replace(11, 1, "\x18"), kMensagemInvalida}, // no terminator
        {semExtended, kMensagemInvalida},
        {mensagem(0x16, 6, 1, 2), kMensagemAbortada},
        {mensagem(0x16, 7, 1, 2, Bytes("\x01\x00", 2)), kMensagemErroReportado},
    };
    for (const Caso& caso : casos) {
        ui.messages.clear();
        auto conexao = conectar();
        chegar(*conexao, caso.mensagem + mensagem(0x16, 1, 1, 2));
        EXPECT_EQ(ui.messages, std::vector<std::string>{caso.texto});
        EXPECT_EQ(conexao->fechamentos, 1);
        EXPECT_EQ(conexao->enviado, ""); // no reply, and the Start request behind is not handled
        ServerSocketZURServerClientDisconnect(*conexao);
    }
    EXPECT_TRUE(arquivos().empty());
}

TEST_F(ServidorTest, AFailedReplyIsReportedAndItsOutcomeNotActedOn) {
    auto conexao = conectar();
    conexao->falharEnvio = true;
    chegar(*conexao, jobData(1, 2));
    EXPECT_EQ(ui.messages, std::vector<std::string>{kMensagemErroEnvio});
    EXPECT_EQ(conexao->fechamentos, 1);
    EXPECT_TRUE(arquivos().empty()); // the tracing is in the record but not saved
    EXPECT_EQ(registro->traceType, 'F');

    std::string erro;
    ConexaoFalsa perdida(diario);
    perdida.aberta = false;
    const unsigned char byte = 0;
    EXPECT_EQ(EnviarAoDispositivo(&byte, 1, perdida, erro), -1);
    EXPECT_EQ(erro, kMensagemConexaoPerdida);
    EXPECT_EQ(perdida.fechamentos, 0);
}

TEST_F(ServidorTest, AJobRequestGetsTheAcceptThenTheLastJob) {
    auto conexao = conectar();
    chegar(*conexao, jobData(1, 2));
    conexao->enviado.clear();
    chegar(*conexao, mensagem(0x16, 3, 0x1111, 0x2222, Bytes(16, '\0')));
    ASSERT_EQ(conexao->enviado.size(), 12u + kMensagemJob);
    EXPECT_EQ(conexao->enviado.substr(0, 12), accept(0x2222, 0x1111));
    const Bytes job = conexao->enviado.substr(12);
    EXPECT_EQ(job.substr(0, 9),
              Bytes("\x16\x04\x00", 3) + palavra(0x2222) + palavra(0x1111) + palavra(kPayloadJob));
    EXPECT_EQ(job[9], 'F');
    EXPECT_EQ(job.substr(job.size() - 3), Bytes("\0\0\x19", 3));
}

TEST_F(ServidorTest, OnlyAnAbortedConnectionIsClosedByTheErrorEvent) {
    auto conexao = conectar();
    int codigo = 10054;
    ServerSocketZURServerClientError(*conexao, codigo);
    EXPECT_EQ(codigo, 10054);
    EXPECT_EQ(conexao->fechamentos, 0);
    codigo = kConexaoAbortada;
    ServerSocketZURServerClientError(*conexao, codigo);
    EXPECT_EQ(codigo, 0);
    EXPECT_EQ(conexao->fechamentos, 1);
}

// A read larger than the chunk the server takes leaves the rest with the
// socket; a full ring drops what does not fit and the stream goes on.
TEST_F(ServidorTest, ReadsTakeAtMostTenThousandBytes) {
    auto conexao = conectar();
    Bytes muitos;
    for (uint16_t i = 0; i < 1000; ++i)
        muitos += mensagem(0x16, 1, i, 0);
    chegar(*conexao, muitos); // 12,000 bytes
    EXPECT_EQ(conexao->enviado.size(), 12u * 833);
    ASSERT_EQ(conexao->chegando.size(), 1u);
    EXPECT_EQ(conexao->chegando.front().size(), 2000u);
    ServerSocketZURServerClientRead(*conexao, contexto);
    EXPECT_EQ(conexao->enviado.size(), 12u * 1000);
    EXPECT_EQ(conexao->fechamentos, 0);
}

} // namespace
