// The Job data payload: its decoding into the frame record, the relay store of
// the last job received and the payload written back from it, and the job
// identification text.
#include "Jobrede.h"

#include "Bytes.h"
#include "Funcoesgerais.h"

#include <charconv>
#include <cstdint>
#include <cstring>

namespace {

// ---- The fixed part of the job payload ----

constexpr int kEmTipoDeTraco = 0;
constexpr int kEmInclinacao = 2; // u8, tenths of a degree
constexpr int kEmCurva = 3;      // u8, tenths
constexpr int kEmFpd = 4;
constexpr int kEmTracoDireito = 6;
constexpr int kNaoLidoDireito = 1007; // written back as 0
constexpr int kEmCircDireita = 1012;
constexpr int kEmCircEsquerda = 1014;
constexpr int kEmDbl = 1028;
constexpr int kEmTracoEsquerdo = 1070;
constexpr int kNaoLidoEsquerdo = 2071; // written back as 0
constexpr double kCentesimos = 0.01;
constexpr double kDecimos = 0.1;

// A packed trace: i16 first value, then one signed step byte per further point.
constexpr int kPassosDoTraco = 999;
constexpr int kTamanhoDoTraco = 2 + kPassosDoTraco; // 1001
constexpr int kPontosDoTraco = kPassosDoTraco + 1;  // 1000
static_assert(kPassosDoTraco <= kPackedDifferences, "the record holds every step");
static_assert(kEmTracoDireito + kTamanhoDoTraco == kNaoLidoDireito);
static_assert(kEmTracoEsquerdo + kTamanhoDoTraco == kNaoLidoEsquerdo);
static_assert(kNaoLidoEsquerdo + 1 == kPayloadJob);

// "EXTENDED" where the left trace begins means a device that put its blocks in
// the wrong place.
constexpr int kMarcaMalPosta = kEmTracoEsquerdo;

// How the relay store holds a field, and how it is written back.
enum class Forma : uint8_t {
    Byte,              // the byte; the same byte
    Traco,             // the 1001 bytes of a packed trace, unchanged
    DecimoArredondado, // u8 x 0.1; value x 10 + 0.5, truncated
    Centesimo,         // i16 x 0.01; value x 100, truncated to its low 16 bits
    Decimo,            // u8 x 0.1; value x 10, truncated
    Numero,            // u8 as a number; value truncated
    DecimoComSinal,    // s8 x 0.1; value x 10, truncated
};

constexpr int larguraDa(Forma forma) {
    return forma == Forma::Traco ? kTamanhoDoTraco : forma == Forma::Centesimo ? 2 : 1;
}

// `quantidade` fields of one form, side by side from `offset`.
struct Campos {
    int offset;
    int quantidade;
    Forma forma;
};

constexpr Campos kCamposDoJob[] = {
    {0, 2, Forma::Byte},
    {kEmInclinacao, 2, Forma::DecimoArredondado}, // tilt and curve: the only rounded ones
    {kEmFpd, 1, Forma::Centesimo},
    {kEmTracoDireito, 1, Forma::Traco},
    {1008, 4, Forma::Centesimo}, // 1008, 1010, right and left circumference
    {1016, 4, Forma::Byte},
    {1020, 4, Forma::Centesimo},
    {kEmDbl, 1, Forma::Centesimo},
    {1030, 4, Forma::Centesimo},
    {1038, 2, Forma::Byte},
    {1040, 4, Forma::Centesimo},
    {1048, 4, Forma::Byte},
    {1052, 1, Forma::Decimo},
    {1053, 1, Forma::Numero},
    {1054, 3, Forma::Centesimo},
    {1060, 1, Forma::Byte},
    {1061, 1, Forma::DecimoComSinal},
    {1062, 8, Forma::Numero},
    {kEmTracoEsquerdo, 1, Forma::Traco},
};

// The table covers the 2072 bytes one after the other, but for the two bytes
// that are never read.
constexpr bool tabelaCobreOPayload() {
    int proximo = 0;
    for (const Campos& c : kCamposDoJob) {
        if (proximo == kNaoLidoDireito)
            ++proximo;
        if (c.offset != proximo)
            return false;
        proximo += c.quantidade * larguraDa(c.forma);
    }
    return proximo == kNaoLidoEsquerdo;
}
static_assert(tabelaCobreOPayload());

// The fixed part of the last job received, on any connection. Byte fields and
// traces are kept as bytes at their offsets, scaled fields as doubles.
struct ArmazemDoJob {
    bool preenchido; // a job payload has passed the length checks since the start
    unsigned char bytes[kPayloadJob];
    double valores[kPayloadJob];
};

ArmazemDoJob g_armazem{};

// The job identification text: 16 bytes of text, the last four always zero,
// so that the text always ends.
constexpr int kBufferIdentificacao = 20;
static_assert(kTamanhoIdentificacao < kBufferIdentificacao);
static_assert(kTamanhoIdentificacao <= kJobTextLength, "the record's job holds the whole text");
char g_identificacao[kBufferIdentificacao]{};

template <typename Acao> void paraCadaCampo(Acao acao) {
    for (const Campos& c : kCamposDoJob)
        for (int k = 0; k < c.quantidade; ++k)
            acao(c.offset + k * larguraDa(c.forma), c.forma);
}

void guardarNoArmazem(const unsigned char* payload) {
    paraCadaCampo([payload](int em, Forma forma) {
        const unsigned char* p = payload + em;
        switch (forma) {
        case Forma::Byte:
            g_armazem.bytes[em] = *p;
            break;
        case Forma::Traco:
            std::memcpy(g_armazem.bytes + em, p, kTamanhoDoTraco);
            break;
        case Forma::DecimoArredondado:
        case Forma::Decimo:
            g_armazem.valores[em] = *p * kDecimos;
            break;
        case Forma::Centesimo:
            g_armazem.valores[em] = readInt16(p) * kCentesimos;
            break;
        case Forma::Numero:
            g_armazem.valores[em] = *p;
            break;
        case Forma::DecimoComSinal:
            g_armazem.valores[em] = readS8(p) * kDecimos;
            break;
        }
    });
    g_armazem.preenchido = true;
}

void escreverDoArmazem(unsigned char* payload) {
    paraCadaCampo([payload](int em, Forma forma) {
        unsigned char* p = payload + em;
        const double v = g_armazem.valores[em];
        switch (forma) {
        case Forma::Byte:
            *p = g_armazem.bytes[em];
            break;
        case Forma::Traco:
            std::memcpy(p, g_armazem.bytes + em, kTamanhoDoTraco);
            break;
        case Forma::DecimoArredondado:
            *p = lowByteOfTruncated(v * 10 + 0.5);
            break;
        case Forma::Centesimo:
            writeInt16(p, v * 100);
            break;
        case Forma::Decimo:
        case Forma::DecimoComSinal:
            *p = lowByteOfTruncated(v * 10);
            break;
        case Forma::Numero:
            *p = lowByteOfTruncated(v);
            break;
        }
    });
}

// ---- The frame record ----

void lerTraco(const unsigned char* traco, int16_t& primeiro, int8_t* passos) {
    primeiro = readInt16(traco);
    for (int k = 0; k < kPassosDoTraco; ++k)
        passos[k] = readS8(traco + 2 + k);
}

void preencherRegistro(const unsigned char* payload, struct_tracedata& r) {
    const char tipo = static_cast<char>(payload[kEmTipoDeTraco]);
    r.traceType = tipo;
    r.deviceFlag = 'B';
    r.tiltTenths = payload[kEmInclinacao];
    r.right.ztilt = payload[kEmInclinacao] * kDecimos;
    r.left.ztilt = payload[kEmInclinacao] * kDecimos;
    r.right.fcrv = r.left.fcrv = payload[kEmCurva] * kDecimos;
    r.fpd = readLittleU16(payload + kEmFpd) * kCentesimos;
    r.boxHeightMean = 0;
    r.dbl = readLittleU16(payload + kEmDbl) * kCentesimos;
    r.right.circ = readLittleU16(payload + kEmCircDireita) * kCentesimos;
    r.left.circ = readLittleU16(payload + kEmCircEsquerda) * kCentesimos;
    if (tipo == 'K')
        r.traceType = 'P';
    lerTraco(payload + kEmTracoDireito, r.right.firstRadius, r.right.radiusDelta);
    r.right.radiusCount = kPontosDoTraco;
    lerTraco(payload + kEmTracoEsquerdo, r.left.firstRadius, r.left.radiusDelta);
    r.left.radiusCount = kPontosDoTraco;
}

// ---- Extended blocks ----

constexpr char kMarca[] = "EXTENDED";
constexpr int kTamanhoMarca = sizeof kMarca - 1; // no terminating zero on the wire
constexpr int kInicioDosBlocos = kPayloadJob;    // 2072
constexpr int kEmTamanhoDoBloco = kTamanhoMarca; // u16 B: type field and data
constexpr int kEmTipoDoBloco = kEmTamanhoDoBloco + 2;
constexpr int kEmDadosDoBloco = kEmTipoDoBloco + 2; // 12
constexpr int kAntesDoTipoDoBloco = kEmTipoDoBloco; // B counts from the type field: +10
// Up to 2083 bytes there is no room for a block header behind the fixed part.
constexpr int kSemBlocosAte = kInicioDosBlocos + kEmDadosDoBloco - 1;

constexpr int kBlocoDeFuros = 2;
constexpr int kBlocoDeAlturas = 10;
constexpr int kTamanhoDoFuro = 32;
constexpr int kAlturaDireita = 28; // block offsets of the packed z traces
constexpr int kAlturaEsquerda = 1044;
constexpr int kFimDasAlturas = kAlturaEsquerda + kTamanhoDoTraco; // 2045 bytes read

bool temMarca(const unsigned char* bytes) {
    return std::memcmp(bytes, kMarca, kTamanhoMarca) == 0;
}

// Drill-hole record offsets (all i16).
constexpr int kFuroValor1 = 0;
constexpr int kFuroValor2 = 2;
constexpr int kFuroValor4 = 4;
constexpr int kFuroValor5 = 6;
constexpr int kFuroOlho = 8;
constexpr int kFuroValor3 = 10;
constexpr int kFuroValor6 = 20; // tenths
constexpr int kFuroValor7 = 24; // 0, 1 or 2
constexpr int kMaiorValor7 = 2;
// "DRILLE=L;C;" (11), seven values of at most 7 characters ("-327.68", "-3276.8")
// each with its ';' (56), "F" (1): 68; room to spare.
constexpr int kMaiorLinhaDeFuro = 128;

// A number with at most `casas` decimals, rounded to them, trailing zeros and a
// bare point dropped, '.' always: the patterns "#0.##" and "#0.#". Writes no
// terminator; the count of characters written.
int formatarPadrao(char* destino, int capacidade, double valor, int casas) {
    const auto [fim, erro] =
        std::to_chars(destino, destino + capacidade, valor, std::chars_format::fixed, casas);
    if (erro != std::errc{})
        return 0;
    char* ultimo = fim;
    if (casas > 0) {
        while (ultimo[-1] == '0')
            --ultimo;
        if (ultimo[-1] == '.')
            --ultimo;
    }
    int n = static_cast<int>(ultimo - destino);
    // A value that rounds to zero is written without a sign.
    if (n == 2 && destino[0] == '-' && destino[1] == '0') {
        destino[0] = '0';
        n = 1;
    }
    return n;
}

// One drill line, with no line end: its length.
int montarLinhaDeFuro(const unsigned char* furo, char* linha, int capacidade) {
    const char* olho = readInt16(furo + kFuroOlho) == 0 ? "R;C;" : "L;C;";
    int n = 0;
    auto texto = [&](const char* t) {
        const int k = static_cast<int>(std::strlen(t));
        std::memcpy(linha + n, t, static_cast<size_t>(k));
        n += k;
    };
    auto valor = [&](int em, double escala, int casas) {
        n += formatarPadrao(linha + n, capacidade - n, readInt16(furo + em) * escala, casas);
        linha[n++] = ';';
    };
    texto("DRILLE=");
    texto(olho);
    valor(kFuroValor1, kCentesimos, 2);
    valor(kFuroValor2, kCentesimos, 2);
    valor(kFuroValor3, kCentesimos, 2);
    valor(kFuroValor4, kCentesimos, 2);
    valor(kFuroValor5, kCentesimos, 2);
    valor(kFuroValor6, kDecimos, 1);
    valor(kFuroValor7, 1, 2);
    texto("F");
    return n;
}

// Appends a line behind the others: false, nothing written, when the line,
// its separator and the terminator would not fit.
bool anexarLinha(char* texto, const char* linha, int tamanho) {
    const int usado = static_cast<int>(strnlen(texto, kExtraLabelsSize));
    const int separador = usado > 0 ? 2 : 0;
    if (usado + separador + tamanho + 1 > kExtraLabelsSize)
        return false;
    if (separador > 0)
        std::memcpy(texto + usado, "\r\n", 2);
    std::memcpy(texto + usado + separador, linha, static_cast<size_t>(tamanho));
    texto[usado + separador + tamanho] = '\0';
    return true;
}

// A drill block of length B (its end is inside the message): false when it is invalid.
bool lerFuros(const unsigned char* bloco, int b, struct_tracedata& r) {
    const int dados = b - 2;
    if (dados < 0 || dados % kTamanhoDoFuro != 0)
        return false;
    char linha[kMaiorLinhaDeFuro];
    for (int i = 0; i < dados / kTamanhoDoFuro; ++i) {
        const unsigned char* furo = bloco + kEmDadosDoBloco + i * kTamanhoDoFuro;
        const int valor7 = readInt16(furo + kFuroValor7);
        if (valor7 < 0 || valor7 > kMaiorValor7)
            return false;
        const int n = montarLinhaDeFuro(furo, linha, sizeof linha);
        if (!anexarLinha(r.extraLabels, linha, n))
            return false;
    }
    return true;
}

void lerAlturas(const unsigned char* bloco, struct_tracedata& r) {
    lerTraco(bloco + kAlturaDireita, r.right.firstZ, r.right.zDelta);
    r.right.zCount = kPontosDoTraco;
    lerTraco(bloco + kAlturaEsquerda, r.left.firstZ, r.left.zDelta);
    r.left.zCount = kPontosDoTraco;
}

// The walk over the extended blocks. Nothing is read beyond the n bytes given:
// a block that would reach past them is invalid.
bool percorrerBlocos(const unsigned char* payload, int n, struct_tracedata& r) {
    int inicio = kInicioDosBlocos;
    while (inicio + kEmDadosDoBloco <= n) {
        const unsigned char* bloco = payload + inicio;
        if (!temMarca(bloco))
            return false;
        const int b = readLittleU16(bloco + kEmTamanhoDoBloco);
        const int tipo = readLittleU16(bloco + kEmTipoDoBloco);
        const int fim = inicio + kAntesDoTipoDoBloco + b;
        if (fim > n)
            return false;
        if (tipo == kBlocoDeFuros && !lerFuros(bloco, b, r))
            return false;
        if (tipo == kBlocoDeAlturas) {
            // Read over 2045 bytes whatever the block's declared length.
            if (inicio + kFimDasAlturas > n)
                return false;
            lerAlturas(bloco, r);
        }
        inicio = fim;
    }
    return true;
}

} // namespace

void GuardarIdentificacaoJob(const unsigned char* texto) {
    std::memcpy(g_identificacao, texto, kTamanhoIdentificacao);
}

void CopiarIdentificacaoJob(struct_tracedata& registro) {
    std::memset(registro.job, 0, sizeof registro.job);
    std::memcpy(registro.job, g_identificacao, std::strlen(g_identificacao));
}

const char* TextoIdentificacaoJob() {
    return g_identificacao;
}

bool DecodificarPayloadJob(const unsigned char* payload, int tamanho, struct_tracedata& registro) {
    if (payload == nullptr || tamanho < kPayloadJob)
        return false;
    if (temMarca(payload + kMarcaMalPosta))
        return false;
    if (tamanho > kSemBlocosAte && !temMarca(payload + kInicioDosBlocos))
        return false;

    guardarNoArmazem(payload);
    clearTraceData(registro);
    CopiarIdentificacaoJob(registro);
    preencherRegistro(payload, registro);
    // On a bad block what was written so far stays, in the store and the record.
    return percorrerBlocos(payload, tamanho, registro);
}

bool EscreverPayloadJob(unsigned char* payload) {
    if (payload == nullptr || !g_armazem.preenchido)
        return false;
    std::memset(payload, 0, kPayloadJob);
    escreverDoArmazem(payload);
    return true;
}

void ReiniciarProtocoloRede() {
    g_armazem = ArmazemDoJob{};
    std::memset(g_identificacao, 0, sizeof g_identificacao);
}
