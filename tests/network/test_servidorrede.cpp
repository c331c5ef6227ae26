// The server events with scripted connections: slots given and released, the
// byte stream cut into whole messages, replies before outcomes, the closes and
// messages of every failure, and the save of a tracing. The conversations on
// one connection are rows of tests/data/network/server.txt, played by one test.
#include "Servidorrede.h"

#include "Conexoesrede.h"
#include "Jobrede.h"
#include "netmessages.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using netmsg::Bytes;

// What happened, in order, across the connections and the user interface.
using Diario = std::vector<std::string>;

class ConexaoFalsa : public ConexaoCliente {
public:
    explicit ConexaoFalsa(Diario& diario) : m_diario(diario) {}

    bool conectada() const override { return aberta; }
    int receber(unsigned char* destino, int maximo) override {
        if (chegando.empty())
            return -1;
        Bytes& pedaco = chegando.front();
        const int n = std::min<int>(maximo, static_cast<int>(pedaco.size()));
        std::copy(pedaco.begin(), pedaco.begin() + n, destino);
        pedaco.erase(pedaco.begin(), pedaco.begin() + n);
        if (pedaco.empty())
            chegando.pop_front();
        return n;
    }
    bool enviar(const unsigned char* bytes, int quantidade) override {
        if (falharEnvio)
            return false;
        enviado.insert(enviado.end(), bytes, bytes + quantidade);
        m_diario.push_back("> " + netmsg::hex(Bytes(bytes, bytes + quantidade)));
        return true;
    }
    void fechar() override {
        aberta = false;
        ++fechamentos;
        m_diario.push_back("closed");
    }

    bool aberta = true;
    bool falharEnvio = false;
    int fechamentos = 0;
    std::deque<Bytes> chegando;
    Bytes enviado;

private:
    Diario& m_diario;
};

class UiRegistrada : public FakeUi {
public:
    explicit UiRegistrada(Diario& diario) : m_diario(diario) {}
    void showMessage(const std::string& text) override {
        FakeUi::showMessage(text);
        static const std::map<std::string, std::string> kNomes = {
            {kMensagemInconsistencia, "inconsistency"},
            {kMensagemInvalida, "invalid"},
            {kMensagemAbortada, "aborted"},
            {kMensagemErroReportado, "error-reported"},
            {kMensagemErroEnvio, "send-error"},
            {kMessageSaveSucceeded, "saved"}};
        const auto nome = kNomes.find(text);
        m_diario.push_back("message " + (nome != kNomes.end() ? nome->second : text));
    }

private:
    Diario& m_diario;
};

// A Start request with words 1 and 2, and its Accept.
const Bytes kStart = netmsg::parse("16 01 00 01 00 02 00 00 00 00 00 19");
const Bytes kAccept = netmsg::parse("17 02 00 02 00 01 00 00 00 00 00 19");

class ServidorTest : public ::testing::Test {
protected:
    void SetUp() override {
        InicializarTabelaDeConexoes();
        ReiniciarProtocoloRede();
        clearTraceData(*registro);
        contexto = ContextoRede{registro.get(), &leitura, dir.path() + "/", &ui};
    }

    std::unique_ptr<ConexaoFalsa> conectar() {
        auto conexao = std::make_unique<ConexaoFalsa>(diario);
        ServerSocketZURServerClientConnect(*conexao);
        return conexao;
    }
    // The bytes arrive as one piece and the read notification runs.
    void chegar(ConexaoFalsa& conexao, const Bytes& bytes) {
        conexao.chegando.push_back(bytes);
        ServerSocketZURServerClientRead(conexao, contexto);
    }

    Diario diario;
    UiRegistrada ui{diario};
    ScratchDir dir;
    ReadingContext leitura{"NIDEK", "LT1000", false};
    std::unique_ptr<struct_tracedata> registro = std::make_unique<struct_tracedata>();
    ContextoRede contexto{};
};

// ---- The conversations ----

class Conversa : public ServidorTest, public ::testing::WithParamInterface<netmsg::Case> {
protected:
    // The value of a check after a row.
    std::string valor(const std::string& chave, const netmsg::Step& p) {
        if (chave == "files") {
            std::string nomes;
            for (const std::string& nome : listDir(dir.path()))
                nomes += (nomes.empty() ? "" : ",") + nome;
            return nomes;
        }
        if (chave == "clipboard")
            return ui.clipboard == dir.file(p.checks.at(chave)) ? p.checks.at(chave) : ui.clipboard;
        if (chave == "job")
            return registro->job;
        if (chave == "trace")
            return registro->traceType == 0
                       ? "0"
                       : std::string(1, static_cast<char>(registro->traceType));
        if (chave == "ring") {
            int guardados = -1;
            return BytesNoAnel(conexao.get(), conexao->slot, guardados) == 0
                       ? std::to_string(guardados)
                       : "no ring";
        }
        if (chave == "size")
            return std::to_string(p.message.size());
        return "unknown check " + chave;
    }

    std::unique_ptr<ConexaoFalsa> conexao;
};

TEST_P(Conversa, Plays) {
    ASSERT_EQ(GetParam().error, "");
    conexao = conectar();
    for (const netmsg::Step& p : GetParam().steps) {
        SCOPED_TRACE(p.where);
        diario.clear();
        if (p.call == "connect") {
            ServerSocketZURServerClientDisconnect(*conexao);
            conexao = conectar();
            continue;
        }
        ASSERT_EQ(p.call, "arrive");
        for (const auto& [opcao, dado] : p.options)
            ASSERT_TRUE(opcao == "send" && dado == "fails") << opcao << "=" << dado;
        conexao->falharEnvio = !p.options.empty();
        chegar(*conexao, p.message);
        EXPECT_EQ(diario, p.result);
        for (const auto& [chave, esperado] : p.checks)
            EXPECT_EQ(valor(chave, p), esperado) << chave;
    }
    ServerSocketZURServerClientDisconnect(*conexao);
}

INSTANTIATE_TEST_SUITE_P(Servidor, Conversa, ::testing::ValuesIn(netmsg::loadCases("server.txt")),
                         netmsg::caseName);

// ---- Slots, closed connections and the error event ----

TEST_F(ServidorTest, SlotsAreGivenLowestFirstAndTheEleventhConnectionIsClosed) {
    std::vector<std::unique_ptr<ConexaoFalsa>> dez;
    for (int i = 0; i < kSlotsDeConexao; ++i) {
        dez.push_back(conectar());
        EXPECT_EQ(dez.back()->slot, i);
    }
    auto decima = conectar();
    EXPECT_EQ(decima->slot, -1);
    EXPECT_EQ(decima->fechamentos, 1);
    ServerSocketZURServerClientDisconnect(*decima); // releases nothing
    for (auto& conexao : dez) {
        chegar(*conexao, kStart);
        EXPECT_EQ(conexao->enviado, kAccept);
    }
    ServerSocketZURServerClientDisconnect(*dez[3]);
    EXPECT_EQ(conectar()->slot, 3);
}

TEST_F(ServidorTest, ReadsOnAClosedOrSlotlessConnectionDoNothing) {
    auto conexao = conectar();
    conexao->aberta = false;
    chegar(*conexao, kStart);
    EXPECT_EQ(conexao->enviado, Bytes());
    EXPECT_EQ(conexao->chegando.size(), 1u); // not even received

    ConexaoFalsa semSlot(diario);
    chegar(semSlot, kStart);
    EXPECT_EQ(semSlot.fechamentos, 1);
    EXPECT_EQ(semSlot.enviado, Bytes());
}

TEST_F(ServidorTest, SendingOnALostConnectionIsReportedAndClosesNothing) {
    std::string erro;
    ConexaoFalsa perdida(diario);
    perdida.aberta = false;
    const unsigned char byte = 0;
    EXPECT_EQ(EnviarAoDispositivo(&byte, 1, perdida, erro), -1);
    EXPECT_EQ(erro, kMensagemConexaoPerdida);
    EXPECT_EQ(perdida.fechamentos, 0);
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
    chegar(*conexao, netmsg::parse("(16 01 00 01 00 02 00 00 00 00 00 19)*1000")); // 12,000 bytes
    EXPECT_EQ(conexao->enviado.size(), 12u * 833);
    ASSERT_EQ(conexao->chegando.size(), 1u);
    EXPECT_EQ(conexao->chegando.front().size(), 2000u);
    ServerSocketZURServerClientRead(*conexao, contexto);
    EXPECT_EQ(conexao->enviado.size(), 12u * 1000);
    EXPECT_EQ(conexao->fechamentos, 0);
}

} // namespace
