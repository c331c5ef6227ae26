// The networked tracers' message protocol: header check, recognition, the
// replies, the decoding of Job data into the frame record, and the job relay.
// The cases that are messages and what comes of them are rows of the tables in
// tests/data/network (recognition, exchanges, decoding), played by one test.
// The frame record's fields, the building of a message and the relay store's
// trip of every field are checked here.
#include "Irxserver.h"
#include "Jobrede.h"
#include "netmessages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using netmsg::Bytes;
using netmsg::parse;

constexpr int kFixo = 2072; // fixed part of the job payload

void poe16(Bytes& b, size_t em, int valor) {
    b[em] = static_cast<unsigned char>(valor & 0xFF);
    b[em + 1] = static_cast<unsigned char>((valor >> 8) & 0xFF);
}

class ProtocoloRede : public ::testing::Test {
protected:
    void SetUp() override {
        ReiniciarProtocoloRede();
        m_registro = std::make_unique<struct_tracedata>();
        std::memset(m_registro.get(), 0, sizeof(struct_tracedata));
        clearTraceData(*m_registro);
        m_resposta.assign(kTamanhoBufferMensagem, 0xCC);
    }
    void TearDown() override { ReiniciarProtocoloRede(); }

    int decodificar(const Bytes& m, int n = -1) {
        return DecodificarJob(m.data(), n >= 0 ? n : static_cast<int>(m.size()), *m_registro);
    }
    int decodificar(const std::string& expressao) { return decodificar(parse(expressao)); }

    int tratar(const Bytes& m) {
        m_tamanho = -5;
        return TratarMensagem(m.data(), static_cast<int>(m.size()), m_resposta.data(), m_tamanho,
                              *m_registro);
    }

    Bytes resposta() const {
        return Bytes(m_resposta.begin(), m_resposta.begin() + std::max(m_tamanho, 0));
    }

    // The job sent back for the Job request `pedido`.
    Bytes jobDeVolta(const Bytes& pedido) {
        const int n = MontarMensagemJob(m_resposta.data(), pedido.data());
        return Bytes(m_resposta.begin(), m_resposta.begin() + n);
    }

    std::string extras() const { return m_registro->extraLabels; }

    std::unique_ptr<struct_tracedata> m_registro;
    Bytes m_resposta;
    int m_tamanho = 0;
};

// ---- The tables ----

class Tabela : public ProtocoloRede, public ::testing::WithParamInterface<netmsg::Case> {
protected:
    // What a row's call gave, as its table writes it.
    std::vector<std::string> chamar(const netmsg::Step& p) {
        const Bytes& m = p.message;
        const auto n = p.options.find("n");
        const int quantos =
            n != p.options.end() ? std::stoi(n->second) : static_cast<int>(m.size());
        if (p.call == "header") {
            int tamanho = -99;
            return {VerificarCabecalho(m.data(), tamanho) ? "length " + std::to_string(tamanho)
                                                          : "refused"};
        }
        if (p.call == "recognize")
            return {std::to_string(ReconhecerMensagem(m.data(), quantos))};
        if (p.call == "decode")
            return {std::to_string(decodificar(m, quantos))};
        if (p.call == "sendback")
            return {"> " + netmsg::hex(jobDeVolta(m))};
        if (p.call == "clear" || p.call == "reset") {
            p.call == "clear" ? clearTraceData(*m_registro) : ReiniciarProtocoloRede();
            return {};
        }
        if (p.call == "set") {
            if (p.options.count("trace"))
                m_registro->traceType = p.options.at("trace")[0];
            if (p.options.count("job"))
                std::strcpy(m_registro->job, p.options.at("job").c_str());
            return {};
        }
        if (p.call != "handle")
            return {"unknown call " + p.call};
        static const std::map<int, std::string> kResultados = {
            {kResultadoNada, "nothing"},       {kResultadoTracado, "tracing"},
            {kResultadoEnviarJob, "send-job"}, {kResultadoInvalido, "invalid"},
            {kResultadoEncerrado, "ended"},    {kResultadoErro, "error"}};
        const int r = tratar(m);
        const auto nome = kResultados.find(r);
        std::vector<std::string> feito = {nome != kResultados.end() ? nome->second
                                                                    : std::to_string(r)};
        if (m_tamanho != 0)
            feito.push_back("> " + netmsg::hex(resposta()));
        return feito;
    }
    // The value of a check after a row.
    std::string valor(const std::string& chave, const netmsg::Step& p) {
        const struct_tracedata& r = *m_registro;
        if (chave == "trace")
            return r.traceType == 0 ? "0" : std::string(1, static_cast<char>(r.traceType));
        if (chave == "job")
            return r.job;
        if (chave == "ident")
            return TextoIdentificacaoJob();
        if (chave == "extras")
            return extras();
        if (chave == "zcount")
            return std::to_string(r.right.zCount);
        if (chave == "size")
            return std::to_string(p.message.size());
        return "unknown check " + chave;
    }
};

TEST_P(Tabela, Plays) {
    ASSERT_EQ(GetParam().error, "");
    ASSERT_EQ(m_registro->traceType, 0);
    for (const netmsg::Step& p : GetParam().steps) {
        SCOPED_TRACE(p.where);
        EXPECT_EQ(chamar(p), p.result);
        for (const auto& [chave, esperado] : p.checks)
            EXPECT_EQ(valor(chave, p), esperado) << chave;
    }
}

// The premise of exchanges.txt's SixteenBitFieldsAreTruncatedNotRounded.
static_assert(29 * 0.01 * 100 < 29.0);

INSTANTIATE_TEST_SUITE_P(Reconhecimento, Tabela,
                         ::testing::ValuesIn(netmsg::loadCases("recognition.txt")),
                         netmsg::caseName);
INSTANTIATE_TEST_SUITE_P(Conversa, Tabela, ::testing::ValuesIn(netmsg::loadCases("exchanges.txt")),
                         netmsg::caseName);
INSTANTIATE_TEST_SUITE_P(Decodificacao, Tabela,
                         ::testing::ValuesIn(netmsg::loadCases("decoding.txt")), netmsg::caseName);

TEST(CabecalhoDeMensagem, NoMessageIsNeitherAHeaderNorAMessage) {
    int tamanho = 0;
    EXPECT_FALSE(VerificarCabecalho(nullptr, tamanho));
    EXPECT_EQ(ReconhecerMensagem(nullptr, 12), 0);
}

// ---- Building ----

TEST(MontagemDeMensagem, WritesCodeWordsLengthPayloadAndTrailer) {
    Bytes destino(40, 0xCC);
    const unsigned char codigo[3] = {0x16, 0x07, 0x00};
    const unsigned char payload[2] = {0x01, 0x00};
    const int n = MontarMensagem(destino.data(), 40, codigo, payload, 2, 0xFFFF, 0x8001);
    EXPECT_EQ(n, 14);
    const Bytes esperado = {0x16, 0x07, 0x00, 0xFF, 0xFF, 0x01, 0x80,
                            0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x19};
    EXPECT_EQ(Bytes(destino.begin(), destino.begin() + 14), esperado);
    EXPECT_EQ(destino[14], 0xCC);
}

TEST(MontagemDeMensagem, NothingIsWrittenWhenTheMessageWouldNotFit) {
    const unsigned char codigo[3] = {0x16, 0x03, 0x00};
    const Bytes payload(16, 0x41);
    Bytes destino(28, 0xCC);
    EXPECT_EQ(MontarMensagem(destino.data(), 27, codigo, payload.data(), 16, 1, 2), 0);
    EXPECT_EQ(destino, Bytes(28, 0xCC));
    EXPECT_EQ(MontarMensagem(destino.data(), 28, codigo, payload.data(), -1, 1, 2), 0);
    EXPECT_EQ(destino, Bytes(28, 0xCC));
    EXPECT_EQ(MontarMensagem(destino.data(), 28, codigo, payload.data(), 16, 1, 2), 28);
    EXPECT_EQ(destino[27], 0x19);
    EXPECT_EQ(MontarMensagem(destino.data(), 11, codigo, nullptr, 0, 1, 2), 0);
}

// ---- Job data decoding ----

TEST_F(ProtocoloRede, FixedPartFillsTheFrameRecord) {
    std::strcpy(m_registro->extraLabels, "OLD=1");
    m_registro->right.zCount = 7;
    m_registro->right.points[3].radius = 99;
    ASSERT_EQ(decodificar("job(fixed)"), 2);
    const struct_tracedata& r = *m_registro;
    EXPECT_EQ(r.traceType, 'P');
    EXPECT_EQ(r.deviceFlag, 'B');
    EXPECT_EQ(r.tiltTenths, 37);
    EXPECT_DOUBLE_EQ(r.right.ztilt, 3.7);
    EXPECT_DOUBLE_EQ(r.left.ztilt, 3.7);
    EXPECT_DOUBLE_EQ(r.right.fcrv, 5.2);
    EXPECT_DOUBLE_EQ(r.left.fcrv, 5.2);
    EXPECT_DOUBLE_EQ(r.fpd, 500.0) << "read unsigned";
    EXPECT_DOUBLE_EQ(r.dbl, 18.75);
    EXPECT_DOUBLE_EQ(r.right.circ, 150.2);
    EXPECT_DOUBLE_EQ(r.left.circ, 450.0);
    EXPECT_EQ(r.boxHeightMean, 0);
    EXPECT_EQ(r.right.radiusCount, 1000);
    EXPECT_EQ(r.left.radiusCount, 1000);
    EXPECT_EQ(r.right.zCount, 0);
    EXPECT_EQ(r.left.zCount, 0);
    EXPECT_STREQ(r.extraLabels, "");
    EXPECT_EQ(r.right.points[3].radius, 0) << "the record is cleared first";
    EXPECT_EQ(r.right.firstRadius, 2512);
    EXPECT_EQ(r.right.radiusDelta[0], 3);
    EXPECT_EQ(r.right.radiusDelta[1], -2);
    EXPECT_EQ(r.right.radiusDelta[998], 3);
    EXPECT_EQ(r.right.radiusDelta[999], 0);
    EXPECT_EQ(r.left.firstRadius, 2498);
    EXPECT_EQ(r.left.radiusDelta[0], -128);
    EXPECT_EQ(r.left.radiusDelta[1], 5);
    EXPECT_EQ(r.left.radiusDelta[998], 5);
}

TEST_F(ProtocoloRede, UpTo2092BytesTheTailIsIgnored) {
    ASSERT_EQ(decodificar("job(fixed)"), 2);
    auto base = std::make_unique<struct_tracedata>();
    std::memcpy(base.get(), m_registro.get(), sizeof(struct_tracedata));
    for (int resto : {6, 8}) {
        std::memset(m_registro.get(), 0, sizeof(struct_tracedata));
        const Bytes m = parse("job(fixed 33*" + std::to_string(resto) + ")");
        ASSERT_EQ(static_cast<int>(m.size()), 2084 + resto);
        ASSERT_EQ(decodificar(m), 2) << m.size();
        EXPECT_EQ(0, std::memcmp(base.get(), m_registro.get(), sizeof(struct_tracedata)))
            << m.size();
    }
}

TEST_F(ProtocoloRede, HeightBlockFillsBothEyesZ) {
    ASSERT_EQ(decodificar("job(fixed block(w10 00*16 w-150 (02 ff)*499 02 00*15 "
                          "w321 01*998 7f))"),
              2);
    const struct_tracedata& r = *m_registro;
    EXPECT_EQ(r.right.zCount, 1000);
    EXPECT_EQ(r.left.zCount, 1000);
    EXPECT_EQ(r.right.firstZ, -150);
    EXPECT_EQ(r.right.zDelta[0], 2);
    EXPECT_EQ(r.right.zDelta[1], -1);
    EXPECT_EQ(r.right.zDelta[998], 2);
    EXPECT_EQ(r.left.firstZ, 321);
    EXPECT_EQ(r.left.zDelta[0], 1);
    EXPECT_EQ(r.left.zDelta[998], 127);
    EXPECT_EQ(r.left.zDelta[999], 0);
}

// Drill lines of known lengths: value 6 of 0, 10 and 100 tenths gives 48, 49
// and 50 characters.
const char kLinha48[] = "DRILLE=R;C;-327.68;-327.68;-327.68;12.34;0;0;1;F";
const char kLinha49[] = "DRILLE=R;C;-327.68;-327.68;-327.68;12.34;0;10;1;F";
static_assert(sizeof kLinha48 - 1 == 48 && sizeof kLinha49 - 1 == 49);

// 199 lines of 48 characters and a last one of `ultimo` tenths for value 6.
Bytes jobDeMuitasLinhas(int ultimo) {
    return parse("job(fixed block(w2 drill(-32768 -32768 -32768 1234 0 0 0 1)*199 "
                 "drill(-32768 -32768 -32768 1234 0 0 " +
                 std::to_string(ultimo) + " 1)))");
}

std::string linhas48(int quantas) {
    std::string t;
    for (int i = 0; i < quantas; ++i)
        t += (i > 0 ? "\r\n" : "") + std::string(kLinha48);
    return t;
}

TEST_F(ProtocoloRede, DrillLinesFillExtraLabelsToItsLastByte) {
    // 199 x (48 + 2) + 49 = 9999 characters and the terminator: 10,000 bytes.
    const Bytes m = jobDeMuitasLinhas(100);
    ASSERT_LE(m.size(), static_cast<size_t>(kTamanhoBufferMensagem));
    ASSERT_EQ(decodificar(m), 2);
    EXPECT_EQ(extras().size(), 9999u);
    EXPECT_EQ(extras(), linhas48(199) + "\r\n" + kLinha49);
}

TEST_F(ProtocoloRede, DrillLinesThatWouldNotFitMakeTheMessageInvalid) {
    // A last line of 50 characters: one more than fits. It is refused whole and
    // the lines before it stay.
    ASSERT_EQ(decodificar(jobDeMuitasLinhas(1000)), -1);
    EXPECT_EQ(extras(), linhas48(199));
}

// ---- The job sent back ----

// Every field written back as it came, when its value survives the x 0.01 and
// x 100 trip; the two bytes never read come back zero.
TEST_F(ProtocoloRede, TheRelayStoreGivesBackEveryField) {
    Bytes fixo(kFixo);
    for (size_t i = 0; i < fixo.size(); ++i)
        fixo[i] = static_cast<unsigned char>((i * 7 + 3) & 0xFF);
    const int campos16[] = {4,    1008, 1010, 1012, 1014, 1020, 1022, 1024, 1026, 1028, 1030,
                            1032, 1034, 1036, 1040, 1042, 1044, 1046, 1054, 1056, 1058};
    const int valores16[] = {-32768, -4321, -1234, -1500, -200, 100,  111,  222,  333,   444,  555,
                             666,    777,   888,   999,   1234, 1900, 2512, 6250, 15000, 32767};
    for (size_t k = 0; k < std::size(campos16); ++k)
        poe16(fixo, static_cast<size_t>(campos16[k]), valores16[k]);
    fixo[1007] = 0xEE;
    fixo[2071] = 0xEE;
    fixo[1061] = 0xFB; // -5 tenths
    Bytes m = parse("16 04 00 0b 0a 0d 0c 18 08");
    m.insert(m.end(), fixo.begin(), fixo.end());
    m.insert(m.end(), {0x00, 0x00, 0x19});
    ASSERT_EQ(decodificar(m), 2);

    const Bytes volta = jobDeVolta(parse("16 03 00 06 05 08 07 10 00 00*16 00 00 19"));
    ASSERT_EQ(volta.size(), 2084u);
    Bytes esperado = fixo;
    esperado[1007] = 0;
    esperado[2071] = 0;
    for (size_t i = 0; i < esperado.size(); ++i)
        EXPECT_EQ(volta[9 + i], esperado[i]) << "payload offset " << i;
}

} // namespace
