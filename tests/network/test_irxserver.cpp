// The networked tracers' message protocol: header check, recognition, the
// replies, the decoding of Job data into the frame record, and the job relay.
#include "Irxserver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

constexpr int kFixo = 2072;            // fixed part of the job payload
constexpr int kInicioDosBlocos = 2081; // 9 + 2072

void poe16(Bytes& b, size_t em, int valor) {
    b[em] = static_cast<unsigned char>(valor & 0xFF);
    b[em + 1] = static_cast<unsigned char>((valor >> 8) & 0xFF);
}

void anexa16(Bytes& b, int valor) {
    b.push_back(static_cast<unsigned char>(valor & 0xFF));
    b.push_back(static_cast<unsigned char>((valor >> 8) & 0xFF));
}

int le16(const unsigned char* p) {
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

// A message made by hand: lead, type, 0x00, words, length, payload, 00 00 19.
Bytes mensagem(int lider, int tipo, int palavraA, int palavraB, const Bytes& payload = {}) {
    Bytes m = {static_cast<unsigned char>(lider), static_cast<unsigned char>(tipo), 0x00};
    anexa16(m, palavraA);
    anexa16(m, palavraB);
    anexa16(m, static_cast<int>(payload.size()));
    m.insert(m.end(), payload.begin(), payload.end());
    m.insert(m.end(), {0x00, 0x00, 0x19});
    return m;
}

Bytes pedido(int tipo, int a = 0x0102, int b = 0x0304) {
    const int payload = tipo == 3 || tipo == 8 ? 16 : tipo == 7 ? 2 : 0;
    return mensagem(tipo == 2 ? 0x17 : 0x16, tipo, a, b, Bytes(static_cast<size_t>(payload), 0));
}

Bytes identificacao(const std::string& texto) {
    Bytes payload(16, 0);
    std::memcpy(payload.data(), texto.data(), texto.size());
    return mensagem(0x16, 8, 0x0A0B, 0x0C0D, payload);
}

// One extended block: "EXTENDED", the length B, the type, the data (B - 2 bytes
// unless a declared B is given).
Bytes bloco(int tipo, const Bytes& dados, int declarado = -1) {
    Bytes b = {'E', 'X', 'T', 'E', 'N', 'D', 'E', 'D'};
    anexa16(b, declarado >= 0 ? declarado : static_cast<int>(dados.size()) + 2);
    anexa16(b, tipo);
    b.insert(b.end(), dados.begin(), dados.end());
    return b;
}

// A drill-hole record: values 1, 2, 4, 5 and 3 in hundredths, the eye, value 6
// in tenths, value 7.
Bytes furo(int v1, int v2, int v3, int v4, int v5, int olho, int v6, int v7) {
    Bytes r(32, 0xEE); // the bytes never read carry noise
    poe16(r, 0, v1);
    poe16(r, 2, v2);
    poe16(r, 4, v4);
    poe16(r, 6, v5);
    poe16(r, 8, olho);
    poe16(r, 10, v3);
    poe16(r, 20, v6);
    poe16(r, 24, v7);
    return r;
}

Bytes juntar(std::initializer_list<Bytes> partes) {
    Bytes tudo;
    for (const Bytes& p : partes)
        tudo.insert(tudo.end(), p.begin(), p.end());
    return tudo;
}

// A plausible fixed part: type 'K', tilt 37 tenths, curve 52 tenths, fpd 50000
// (above 32767: the record reads it unsigned), circumferences, dbl, and two
// traces whose steps go both ways.
Bytes payloadFixo(unsigned char tipo = 'K') {
    Bytes p(kFixo, 0);
    p[0] = tipo;
    p[1] = 0x42;
    p[2] = 37;
    p[3] = 52;
    poe16(p, 4, 50000);
    poe16(p, 6, 2512);
    for (int k = 0; k < 999; ++k)
        p[8 + static_cast<size_t>(k)] = static_cast<unsigned char>(k % 2 == 0 ? 3 : 0xFE); // +3, -2
    poe16(p, 1012, 15020);
    poe16(p, 1014, 45000);
    poe16(p, 1028, 1875);
    poe16(p, 1070, 2498);
    for (int k = 0; k < 999; ++k)
        p[1072 + static_cast<size_t>(k)] = static_cast<unsigned char>(k % 3 == 0 ? 0x80 : 5);
    return p;
}

// A Job data message: the fixed part, the blocks, then `resto` bytes more
// before the trailer (for the 2084 to 2092 byte messages).
Bytes job(const Bytes& fixo, const Bytes& blocos = {}, int resto = 0) {
    Bytes payload = fixo;
    payload.insert(payload.end(), blocos.begin(), blocos.end());
    payload.insert(payload.end(), static_cast<size_t>(resto), 0x33);
    return mensagem(0x16, 4, 0x1111, 0x2222, payload);
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

    int decodificar(const Bytes& m) {
        return DecodificarJob(m.data(), static_cast<int>(m.size()), *m_registro);
    }

    int tratar(const Bytes& m) {
        m_tamanho = -5;
        return TratarMensagem(m.data(), static_cast<int>(m.size()), m_resposta.data(), m_tamanho,
                              *m_registro);
    }

    Bytes resposta() const {
        return Bytes(m_resposta.begin(), m_resposta.begin() + std::max(m_tamanho, 0));
    }

    // The job sent back for a Job request with words 0x0506 / 0x0708.
    Bytes jobDeVolta() {
        const Bytes p = pedido(3, 0x0506, 0x0708);
        const int n = MontarMensagemJob(m_resposta.data(), p.data());
        return Bytes(m_resposta.begin(), m_resposta.begin() + n);
    }

    std::string extras() const { return m_registro->extraLabels; }

    std::unique_ptr<struct_tracedata> m_registro;
    Bytes m_resposta;
    int m_tamanho = 0;
};

// ---- Header check ----

TEST(CabecalhoDeMensagem, LeadByteAndTypeMustAgree) {
    for (int tipo = 1; tipo <= 8; ++tipo) {
        const Bytes m = pedido(tipo);
        int tamanho = -99;
        EXPECT_TRUE(VerificarCabecalho(m.data(), tamanho)) << tipo;
        EXPECT_EQ(tamanho, static_cast<int>(m.size()) - 12) << tipo;
        Bytes trocado = m;
        trocado[0] = tipo == 2 ? 0x16 : 0x17;
        EXPECT_FALSE(VerificarCabecalho(trocado.data(), tamanho)) << tipo;
    }
    int tamanho = 0;
    for (int tipo : {0, 9, 0x41, 0xFF}) {
        Bytes m = pedido(1);
        m[1] = static_cast<unsigned char>(tipo);
        EXPECT_FALSE(VerificarCabecalho(m.data(), tamanho)) << tipo;
    }
    Bytes estranho = pedido(1);
    estranho[0] = 0x41;
    EXPECT_FALSE(VerificarCabecalho(estranho.data(), tamanho));
    EXPECT_FALSE(VerificarCabecalho(nullptr, tamanho));
}

TEST(CabecalhoDeMensagem, LengthIsSignedAndByteTwoIsNotChecked) {
    Bytes m = pedido(4);
    m[2] = 0x55;
    poe16(m, 7, 0xFFFF);
    int tamanho = 0;
    EXPECT_TRUE(VerificarCabecalho(m.data(), tamanho));
    EXPECT_EQ(tamanho, -1);
    poe16(m, 7, 0x7FFF);
    EXPECT_TRUE(VerificarCabecalho(m.data(), tamanho));
    EXPECT_EQ(tamanho, 32767);
}

// ---- Recognition ----

TEST(ReconhecimentoDeMensagem, EveryTypeAtItsOwnLength) {
    const int totais[] = {0, 12, 12, 28, 0, 12, 12, 14, 28};
    for (int tipo = 1; tipo <= 8; ++tipo) {
        if (tipo == 4)
            continue;
        const Bytes m = pedido(tipo);
        ASSERT_EQ(static_cast<int>(m.size()), totais[tipo]);
        EXPECT_EQ(ReconhecerMensagem(m.data(), totais[tipo]), tipo);
        // One byte short or one more (the terminator still last) is not the message.
        Bytes longo = m;
        longo.back() = 0x00;
        longo.push_back(0x19);
        EXPECT_EQ(ReconhecerMensagem(longo.data(), totais[tipo] + 1), 0) << tipo;
        Bytes curto(m.begin(), m.end() - 1);
        curto.back() = 0x19;
        EXPECT_EQ(ReconhecerMensagem(curto.data(), totais[tipo] - 1), 0) << tipo;
        Bytes semFim = m;
        semFim.back() = 0x18;
        EXPECT_EQ(ReconhecerMensagem(semFim.data(), totais[tipo]), 0) << tipo;
    }
    const Bytes j = job(payloadFixo());
    EXPECT_EQ(ReconhecerMensagem(j.data(), 2084), 4);
}

TEST(ReconhecimentoDeMensagem, TheCodeIsAllThreeBytes) {
    Bytes m = pedido(5);
    m[2] = 0x01;
    EXPECT_EQ(ReconhecerMensagem(m.data(), 12), 0);
    m = pedido(1);
    m[0] = 0x17;
    EXPECT_EQ(ReconhecerMensagem(m.data(), 12), 0);
    m = pedido(2);
    m[0] = 0x16;
    EXPECT_EQ(ReconhecerMensagem(m.data(), 12), 0);
    m = pedido(1);
    m[1] = 9;
    EXPECT_EQ(ReconhecerMensagem(m.data(), 12), 0);
}

TEST(ReconhecimentoDeMensagem, FixedSizeTypesIgnoreTheirLengthField) {
    Bytes m = pedido(1);
    poe16(m, 7, 5);
    EXPECT_EQ(ReconhecerMensagem(m.data(), 12), 1);
    m = pedido(8);
    poe16(m, 7, 0);
    EXPECT_EQ(ReconhecerMensagem(m.data(), 28), 8);
}

TEST(ReconhecimentoDeMensagem, ElevenBytesOrFewerAreNeverAMessage) {
    const Bytes m = pedido(1);
    for (int n = 0; n <= 11; ++n) {
        Bytes curto(m.begin(), m.begin() + n);
        curto.resize(12, 0);
        if (n > 0)
            curto[static_cast<size_t>(n - 1)] = 0x19;
        EXPECT_EQ(ReconhecerMensagem(curto.data(), n), 0) << n;
    }
    EXPECT_EQ(ReconhecerMensagem(nullptr, 12), 0);
}

TEST(ReconhecimentoDeMensagem, JobDataLengthComesFromItsUnsignedLengthField) {
    Bytes j = job(payloadFixo());
    EXPECT_EQ(ReconhecerMensagem(j.data(), 2083), 0);
    j.push_back(0x19);
    EXPECT_EQ(ReconhecerMensagem(j.data(), 2085), 0);

    // A length of 0x8000 is 32768 bytes of payload, not a negative number.
    Bytes grande = mensagem(0x16, 4, 0, 0, Bytes(0x8000, 0x20));
    EXPECT_EQ(ReconhecerMensagem(grande.data(), static_cast<int>(grande.size())), 4);
    EXPECT_EQ(grande.size(), 0x8000u + 12);
    grande.back() = 0x00;
    EXPECT_EQ(ReconhecerMensagem(grande.data(), static_cast<int>(grande.size())), 0);
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

// ---- Handling ----

TEST_F(ProtocoloRede, StartRequestIsAcceptedWithTheWordsExchanged) {
    EXPECT_EQ(tratar(pedido(1, 0x0102, 0x0304)), kResultadoNada);
    const Bytes esperado = {0x17, 0x02, 0x00, 0x04, 0x03, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x19};
    EXPECT_EQ(resposta(), esperado);
}

TEST_F(ProtocoloRede, JobRequestWithoutATracingIsAnsweredWithError) {
    ASSERT_EQ(m_registro->traceType, 0);
    EXPECT_EQ(tratar(pedido(3, 0x0102, 0x0304)), kResultadoNada);
    const Bytes esperado = {0x16, 0x07, 0x00, 0x04, 0x03, 0x02, 0x01,
                            0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x19};
    EXPECT_EQ(resposta(), esperado);
}

TEST_F(ProtocoloRede, JobRequestWithATracingIsAcceptedAndTheJobFollows) {
    ASSERT_EQ(decodificar(job(payloadFixo())), 2);
    EXPECT_EQ(tratar(pedido(3, 0x0102, 0x0304)), kResultadoEnviarJob);
    const Bytes esperado = {0x17, 0x02, 0x00, 0x04, 0x03, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x19};
    EXPECT_EQ(resposta(), esperado);
}

TEST_F(ProtocoloRede, EndRequestIsAnsweredWithWordBZero) {
    EXPECT_EQ(tratar(pedido(5, 0x0102, 0x0304)), kResultadoNada);
    const Bytes esperado = {0x16, 0x05, 0x00, 0x04, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x19};
    EXPECT_EQ(resposta(), esperado);
}

TEST_F(ProtocoloRede, MessagesWithoutReplyAndTheirOutcomes) {
    EXPECT_EQ(tratar(pedido(2)), kResultadoNada);
    EXPECT_EQ(m_tamanho, 0);
    EXPECT_EQ(tratar(pedido(6)), kResultadoEncerrado);
    EXPECT_EQ(m_tamanho, 0);
    EXPECT_EQ(tratar(pedido(7)), kResultadoErro);
    EXPECT_EQ(m_tamanho, 0);
    Bytes ruim = pedido(1);
    ruim[11] = 0x00;
    EXPECT_EQ(tratar(ruim), kResultadoInvalido);
    EXPECT_EQ(m_tamanho, 0);
}

TEST_F(ProtocoloRede, ValidJobDataIsAcceptedAndInvalidGetsNoReply) {
    EXPECT_EQ(tratar(job(payloadFixo())), kResultadoTracado);
    const Bytes esperado = {0x17, 0x02, 0x00, 0x22, 0x22, 0x11, 0x11, 0x00, 0x00, 0x00, 0x00, 0x19};
    EXPECT_EQ(resposta(), esperado);
    EXPECT_EQ(m_registro->traceType, 'P');

    Bytes fixo = payloadFixo();
    std::memcpy(fixo.data() + 1070, "EXTENDED", 8);
    EXPECT_EQ(tratar(job(fixo)), kResultadoInvalido);
    EXPECT_EQ(m_tamanho, 0);
}

// ---- Job identification ----

TEST_F(ProtocoloRede, JobIdentificationNamesTheNextTracings) {
    EXPECT_EQ(tratar(identificacao("0000012345")), kResultadoNada);
    const Bytes esperado = {0x17, 0x02, 0x00, 0x0D, 0x0C, 0x0B, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x19};
    EXPECT_EQ(resposta(), esperado);
    EXPECT_STREQ(TextoIdentificacaoJob(), "0000012345");
    EXPECT_STREQ(m_registro->job, "0000012345");

    // Other messages in between, a fresh record: the text is process-wide.
    EXPECT_EQ(tratar(pedido(1)), kResultadoNada);
    clearTraceData(*m_registro);
    ASSERT_EQ(decodificar(job(payloadFixo())), 2);
    EXPECT_STREQ(m_registro->job, "0000012345");
    ASSERT_EQ(decodificar(job(payloadFixo('F'))), 2);
    EXPECT_STREQ(m_registro->job, "0000012345") << "the text is never cleared";
}

TEST_F(ProtocoloRede, JobIdentificationKeepsSixteenCharactersAndIsOverwrittenWhole) {
    ASSERT_EQ(tratar(identificacao("ABCDEFGHIJKLMNOP")), kResultadoNada);
    EXPECT_STREQ(TextoIdentificacaoJob(), "ABCDEFGHIJKLMNOP");
    EXPECT_STREQ(m_registro->job, "ABCDEFGHIJKLMNOP");
    ASSERT_EQ(tratar(identificacao("12")), kResultadoNada);
    EXPECT_STREQ(TextoIdentificacaoJob(), "12");
    EXPECT_STREQ(m_registro->job, "12");
}

TEST_F(ProtocoloRede, WithoutIdentificationTheJobIsEmpty) {
    std::strcpy(m_registro->job, "OLD");
    ASSERT_EQ(decodificar(job(payloadFixo())), 2);
    EXPECT_STREQ(m_registro->job, "");
    EXPECT_STREQ(TextoIdentificacaoJob(), "");
}

// ---- Job data decoding ----

TEST_F(ProtocoloRede, FixedPartFillsTheFrameRecord) {
    std::strcpy(m_registro->extraLabels, "OLD=1");
    m_registro->right.zCount = 7;
    m_registro->right.points[3].radius = 99;
    ASSERT_EQ(decodificar(job(payloadFixo('K'))), 2);
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

TEST_F(ProtocoloRede, OtherTraceTypesStayAsTheyAre) {
    ASSERT_EQ(decodificar(job(payloadFixo('F'))), 2);
    EXPECT_EQ(m_registro->traceType, 'F');
}

TEST_F(ProtocoloRede, UpTo2092BytesTheTailIsIgnored) {
    ASSERT_EQ(decodificar(job(payloadFixo())), 2);
    auto base = std::make_unique<struct_tracedata>();
    std::memcpy(base.get(), m_registro.get(), sizeof(struct_tracedata));
    for (int resto : {6, 8}) {
        std::memset(m_registro.get(), 0, sizeof(struct_tracedata));
        const Bytes m = job(payloadFixo(), {}, resto);
        ASSERT_EQ(static_cast<int>(m.size()), 2084 + resto);
        ASSERT_EQ(decodificar(m), 2) << m.size();
        EXPECT_EQ(0, std::memcmp(base.get(), m_registro.get(), sizeof(struct_tracedata)))
            << m.size();
    }
}

TEST_F(ProtocoloRede, LengthAndMarkerChecks) {
    const Bytes j = job(payloadFixo());
    EXPECT_EQ(DecodificarJob(j.data(), 2083, *m_registro), -1);
    EXPECT_EQ(decodificar(job(payloadFixo(), {}, 9)), -1) << "2093 bytes need a block";
    EXPECT_EQ(decodificar(job(payloadFixo(), {}, 16)), -1) << "2100 bytes need a block";
    Bytes fixo = payloadFixo();
    std::memcpy(fixo.data() + 1070, "EXTENDED", 8);
    EXPECT_EQ(decodificar(job(fixo)), -1);
    EXPECT_EQ(m_registro->traceType, 0) << "nothing decoded";
    // The relay store was not touched either: there is still no job to send.
    EXPECT_EQ(static_cast<int>(jobDeVolta().size()), 14);
}

TEST_F(ProtocoloRede, DrillBlockOfTwoRecords) {
    const Bytes blocos = bloco(2, juntar({furo(1250, -830, 250, 0, 0, 0, 30, 1),
                                          furo(-1, 1000, 5, -32768, 32767, 3, 12345, 2)}));
    ASSERT_EQ(le16(blocos.data() + 8), 66);
    ASSERT_EQ(decodificar(job(payloadFixo(), blocos)), 2);
    EXPECT_EQ(extras(), "DRILLE=R;C;12.5;-8.3;2.5;0;0;3;1;F\r\n"
                        "DRILLE=L;C;-0.01;10;0.05;-327.68;327.67;1234.5;2;F");
}

TEST_F(ProtocoloRede, DrillBlockLengthsMustHoldWholeRecords) {
    const Bytes dois = juntar({furo(1, 2, 3, 4, 5, 0, 6, 0), furo(1, 2, 3, 4, 5, 0, 6, 0)});
    EXPECT_EQ(decodificar(job(payloadFixo(), bloco(2, Bytes(dois.begin(), dois.begin() + 48)))), -1)
        << "B = 50";
    EXPECT_EQ(decodificar(job(payloadFixo(), bloco(2, {}))), 2) << "B = 2: no records";
    EXPECT_EQ(extras(), "");
    for (int b : {0, 1}) {
        Bytes blocos = bloco(2, dois, b);
        EXPECT_EQ(decodificar(job(payloadFixo(), blocos)), -1) << b;
    }
}

TEST_F(ProtocoloRede, AnOutOfRangeValue7StopsTheBlockButKeepsEarlierLines) {
    for (int v7 : {3, -1}) {
        const Bytes registros =
            juntar({furo(100, 0, 0, 0, 0, 0, 0, 0), furo(0, 0, 0, 0, 0, 0, 0, v7),
                    furo(200, 0, 0, 0, 0, 0, 0, 0)});
        EXPECT_EQ(decodificar(job(payloadFixo(), bloco(2, registros))), -1) << v7;
        EXPECT_EQ(extras(), "DRILLE=R;C;1;0;0;0;0;0;0;F") << v7;
    }
}

TEST_F(ProtocoloRede, HeightBlockFillsBothEyesZ) {
    Bytes dados(2045 - 12, 0);
    poe16(dados, 28 - 12, -150);
    for (int k = 0; k < 999; ++k)
        dados[30 - 12 + static_cast<size_t>(k)] = static_cast<unsigned char>(k % 2 ? 0xFF : 2);
    poe16(dados, 1044 - 12, 321);
    for (int k = 0; k < 999; ++k)
        dados[1046 - 12 + static_cast<size_t>(k)] = static_cast<unsigned char>(k == 998 ? 0x7F : 1);
    ASSERT_EQ(decodificar(job(payloadFixo(), bloco(10, dados))), 2);
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

TEST_F(ProtocoloRede, OtherBlockTypesAreSkippedAndTheWalkGoesOn) {
    // The skipped block's data holds "EXTENDED" and a drill block of its own:
    // read as blocks they would add a line.
    const Bytes disfarce = bloco(2, furo(900, 0, 0, 0, 0, 0, 0, 0));
    const Bytes blocos = juntar(
        {bloco(7, juntar({Bytes(6, 0x44), disfarce})), bloco(2, furo(100, 0, 0, 0, 0, 0, 0, 0))});
    ASSERT_EQ(decodificar(job(payloadFixo(), blocos)), 2);
    EXPECT_EQ(extras(), "DRILLE=R;C;1;0;0;0;0;0;0;F");
}

TEST_F(ProtocoloRede, EveryLaterBlockMustBeginWithTheMarker) {
    Bytes segundo = bloco(7, Bytes(4, 0));
    segundo[0] = 'e';
    EXPECT_EQ(decodificar(job(payloadFixo(), juntar({bloco(7, Bytes(4, 0)), segundo}))), -1);
}

TEST_F(ProtocoloRede, BlocksReachingPastTheMessageAreInvalid) {
    // A skipped block whose declared length runs past the end.
    EXPECT_EQ(decodificar(job(payloadFixo(), bloco(7, Bytes(20, 0), 400))), -1);
    // A drill block that announces two records but carries one.
    EXPECT_EQ(decodificar(job(payloadFixo(), bloco(2, furo(100, 0, 0, 0, 0, 0, 0, 0), 66))), -1);
    EXPECT_EQ(extras(), "") << "nothing is read from a block that does not fit";
    // A height block declared short, whose traces would be read past the end.
    EXPECT_EQ(decodificar(job(payloadFixo(), bloco(10, Bytes(100, 0)))), -1);
    EXPECT_EQ(m_registro->right.zCount, 0);
    // The 2045 bytes read from the block start, the trailer counted among the n
    // bytes received: one byte short, then exactly there.
    Bytes m = job(payloadFixo(), bloco(10, Bytes(2029, 0)));
    ASSERT_EQ(static_cast<int>(m.size()), kInicioDosBlocos + 2044);
    EXPECT_EQ(decodificar(m), -1);
    m = job(payloadFixo(), bloco(10, Bytes(2030, 0)));
    ASSERT_EQ(static_cast<int>(m.size()), kInicioDosBlocos + 2045);
    EXPECT_EQ(decodificar(m), 2);
    EXPECT_EQ(m_registro->right.zCount, 1000);
}

TEST_F(ProtocoloRede, ABlockMayEndExactlyAtTheLastByteReceived) {
    // The trailer's three bytes count among the n bytes received.
    Bytes m = job(payloadFixo(), bloco(7, Bytes(3, 0), 2 + 3 + 3));
    ASSERT_EQ(static_cast<int>(m.size()), kInicioDosBlocos + 10 + 2 + 3 + 3);
    EXPECT_EQ(decodificar(m), 2);
    m = job(payloadFixo(), bloco(7, Bytes(3, 0), 2 + 3 + 4));
    EXPECT_EQ(decodificar(m), -1);
}

// Drill lines of known lengths: value 6 of 0, 10 and 100 tenths gives 48, 49
// and 50 characters.
const char kLinha48[] = "DRILLE=R;C;-327.68;-327.68;-327.68;12.34;0;0;1;F";
const char kLinha49[] = "DRILLE=R;C;-327.68;-327.68;-327.68;12.34;0;10;1;F";
static_assert(sizeof kLinha48 - 1 == 48 && sizeof kLinha49 - 1 == 49);

Bytes furoDeLinha(int decimos) {
    return furo(-32768, -32768, -32768, 1234, 0, 0, decimos, 1);
}

// 199 lines of 48 characters and a last one of `ultimo` tenths for value 6.
Bytes blocoDeMuitasLinhas(int ultimo) {
    Bytes registros;
    for (int i = 0; i < 199; ++i) {
        const Bytes f = furoDeLinha(0);
        registros.insert(registros.end(), f.begin(), f.end());
    }
    const Bytes f = furoDeLinha(ultimo);
    registros.insert(registros.end(), f.begin(), f.end());
    return bloco(2, registros);
}

std::string linhas48(int quantas) {
    std::string t;
    for (int i = 0; i < quantas; ++i)
        t += (i > 0 ? "\r\n" : "") + std::string(kLinha48);
    return t;
}

TEST_F(ProtocoloRede, DrillLinesFillExtraLabelsToItsLastByte) {
    // 199 x (48 + 2) + 49 = 9999 characters and the terminator: 10,000 bytes.
    const Bytes m = job(payloadFixo(), blocoDeMuitasLinhas(100));
    ASSERT_LE(m.size(), static_cast<size_t>(kTamanhoBufferMensagem));
    ASSERT_EQ(decodificar(m), 2);
    EXPECT_EQ(extras().size(), 9999u);
    EXPECT_EQ(extras(), linhas48(199) + "\r\n" + kLinha49);
}

TEST_F(ProtocoloRede, DrillLinesThatWouldNotFitMakeTheMessageInvalid) {
    // A last line of 50 characters: one more than fits. It is refused whole and
    // the lines before it stay.
    ASSERT_EQ(decodificar(job(payloadFixo(), blocoDeMuitasLinhas(1000))), -1);
    EXPECT_EQ(extras(), linhas48(199));
}

// ---- The job sent back ----

TEST_F(ProtocoloRede, NoJobYetIsAnsweredWithError) {
    const Bytes esperado = {0x16, 0x07, 0x00, 0x08, 0x07, 0x06, 0x05,
                            0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x19};
    EXPECT_EQ(jobDeVolta(), esperado);
    // A tracing from another source: Accept, then still no job to send.
    m_registro->traceType = 'F';
    EXPECT_EQ(tratar(pedido(3, 0x0506, 0x0708)), kResultadoEnviarJob);
    EXPECT_EQ(m_resposta[1], 0x02);
    EXPECT_EQ(jobDeVolta(), esperado);
}

TEST_F(ProtocoloRede, AJobWithTraceTypeZeroIsStillSentAsBuilt) {
    ASSERT_EQ(decodificar(job(payloadFixo(0))), 2);
    const Bytes volta = jobDeVolta();
    ASSERT_EQ(volta.size(), 2084u);
    EXPECT_EQ(volta[9], 0);
    EXPECT_EQ(volta[1], 0x04);
}

TEST_F(ProtocoloRede, TheJobComesBackInItsFrameWithTheWordsExchanged) {
    ASSERT_EQ(decodificar(job(payloadFixo())), 2);
    const Bytes volta = jobDeVolta();
    ASSERT_EQ(volta.size(), 2084u);
    const Bytes cabecalho = {0x16, 0x04, 0x00, 0x08, 0x07, 0x06, 0x05, 0x18, 0x08};
    EXPECT_EQ(Bytes(volta.begin(), volta.begin() + 9), cabecalho);
    EXPECT_EQ(Bytes(volta.end() - 3, volta.end()), Bytes({0x00, 0x00, 0x19}));
    EXPECT_EQ(ReconhecerMensagem(volta.data(), 2084), 4);
}

TEST_F(ProtocoloRede, TiltAndCurveBytesComeBackUnchanged) {
    Bytes fixo = payloadFixo();
    fixo[2] = 25;
    fixo[3] = 60;
    ASSERT_EQ(decodificar(job(fixo)), 2);
    const Bytes volta = jobDeVolta();
    EXPECT_EQ(volta[9 + 2], 25);
    EXPECT_EQ(volta[9 + 3], 60);
}

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
    ASSERT_EQ(decodificar(job(fixo)), 2);

    const Bytes volta = jobDeVolta();
    ASSERT_EQ(volta.size(), 2084u);
    Bytes esperado = fixo;
    esperado[1007] = 0;
    esperado[2071] = 0;
    for (size_t i = 0; i < esperado.size(); ++i)
        EXPECT_EQ(volta[9 + i], esperado[i]) << "payload offset " << i;
}

// 29 x 0.01 is held as 0.28999999999999998; x 100 gives 28.999999999999996,
// truncated to 28. Below zero truncation goes toward zero: -32746 gives -32745.
TEST_F(ProtocoloRede, SixteenBitFieldsAreTruncatedNotRounded) {
    static_assert(29 * 0.01 * 100 < 29.0);
    Bytes fixo = payloadFixo();
    poe16(fixo, 1008, 29);
    poe16(fixo, 1054, 58);
    poe16(fixo, 1040, -32746);
    poe16(fixo, 4, 50000); // held as -15536
    ASSERT_EQ(decodificar(job(fixo)), 2);
    const Bytes volta = jobDeVolta();
    EXPECT_EQ(le16(volta.data() + 9 + 1008), 28);
    EXPECT_EQ(le16(volta.data() + 9 + 1054), 57);
    EXPECT_EQ(le16(volta.data() + 9 + 1040), -32745);
    EXPECT_EQ(le16(volta.data() + 9 + 4), 50000 - 65536);
}

TEST_F(ProtocoloRede, AJobThatFailsInItsBlocksStillFillsTheStore) {
    Bytes fixo = payloadFixo();
    fixo[1016] = 0x9A;
    const Bytes m = job(fixo, bloco(2, Bytes(48, 0)));
    ASSERT_EQ(decodificar(m), -1);
    const Bytes volta = jobDeVolta();
    ASSERT_EQ(volta.size(), 2084u);
    EXPECT_EQ(volta[9 + 1016], 0x9A);
}

TEST_F(ProtocoloRede, TheLastJobReceivedIsTheOneSentBack) {
    Bytes primeiro = payloadFixo();
    primeiro[1] = 0x11;
    Bytes segundo = payloadFixo();
    segundo[1] = 0x22;
    ASSERT_EQ(decodificar(job(primeiro)), 2);
    ASSERT_EQ(decodificar(job(segundo)), 2);
    EXPECT_EQ(jobDeVolta()[9 + 1], 0x22);
    ReiniciarProtocoloRede();
    EXPECT_EQ(jobDeVolta().size(), 14u);
}

} // namespace
