// Header check, recognition, building and handling of the networked tracers'
// messages, and the frame around a job payload. The payload itself (its
// decoding, the relay store, the job identification text) is Jobrede's.
#include "Irxserver.h"

#include "Bytes.h"
#include "Jobrede.h"

#include <cstring>

namespace {

// Offsets within a message.
constexpr int kEmLider = 0;
constexpr int kEmTipo = 1;
constexpr int kEmZero = 2;
constexpr int kEmPalavraA = 3;
constexpr int kEmPalavraB = 5;
constexpr int kEmTamanho = 7;
constexpr int kEmPayload = kTamanhoCabecalho;
constexpr int kTamanhoCodigo = 3; // lead byte, type, 0x00

constexpr int kTamanhoPayloadPedido = 16; // Job request payload, never looked at

constexpr int kPrimeiroTipo = kStartRequest;
constexpr int kUltimoTipo = kJobIdentification;
constexpr int kTiposDeMensagem = kUltimoTipo + 1; // indexed by type; 0 unused

// The Error payload the system sends: error 1, "there is no job to send".
constexpr unsigned char kPayloadErro[] = {0x01, 0x00};
constexpr int kTamanhoPayloadErro = 2;

// The total length of each type: the frame plus the fixed payload. Job data has
// a length of its own, read from its header (0 here).
constexpr int kTamanhoFixo[kTiposDeMensagem] = {
    0,
    kTamanhoMoldura,                         // Start request
    kTamanhoMoldura,                         // Accept
    kTamanhoMoldura + kTamanhoPayloadPedido, // Job request
    0,                                       // Job data
    kTamanhoMoldura,                         // End request
    kTamanhoMoldura,                         // Connection ended
    kTamanhoMoldura + kTamanhoPayloadErro,   // Error
    kTamanhoMoldura + kTamanhoIdentificacao, // Job identification
};

unsigned char liderDoTipo(int tipo) {
    return tipo == kAccept ? kLiderAccept : kLiderOutros;
}

// The reply to a message carries its words exchanged.
struct Palavras {
    uint16_t a;
    uint16_t b;
};

Palavras palavrasTrocadas(const unsigned char* mensagem) {
    if (mensagem == nullptr)
        return {0, 0};
    return {readLittleU16(mensagem + kEmPalavraB), readLittleU16(mensagem + kEmPalavraA)};
}

int montarDoTipo(unsigned char* resposta, int tipo, const unsigned char* payload, int tamanho,
                 Palavras palavras) {
    const unsigned char codigo[kTamanhoCodigo] = {liderDoTipo(tipo),
                                                  static_cast<unsigned char>(tipo), 0x00};
    return MontarMensagem(resposta, kTamanhoBufferMensagem, codigo, payload, tamanho, palavras.a,
                          palavras.b);
}

int responderAccept(unsigned char* resposta, Palavras palavras) {
    return montarDoTipo(resposta, kAccept, nullptr, 0, palavras);
}

// The Error message "there is no job to send": 14 bytes.
int montarErro(unsigned char* resposta, Palavras palavras) {
    return montarDoTipo(resposta, kErrorMessage, kPayloadErro, kTamanhoPayloadErro, palavras);
}

int tratarPedidoDeJob(unsigned char* resposta, int& tamanhoResposta, Palavras palavras,
                      const struct_tracedata& registro) {
    // With a tracing held the Accept goes out now and the job right after it.
    if (registro.traceType != 0) {
        tamanhoResposta = responderAccept(resposta, palavras);
        return kResultadoEnviarJob;
    }
    tamanhoResposta = montarErro(resposta, palavras);
    return kResultadoNada;
}

int tratarIdentificacao(const unsigned char* mensagem, unsigned char* resposta,
                        int& tamanhoResposta, Palavras palavras, struct_tracedata& registro) {
    GuardarIdentificacaoJob(mensagem + kEmPayload);
    CopiarIdentificacaoJob(registro);
    tamanhoResposta = responderAccept(resposta, palavras);
    return kResultadoNada;
}

} // namespace

bool VerificarCabecalho(const unsigned char* cabecalho, int& tamanhoPayload) {
    if (cabecalho == nullptr)
        return false;
    const unsigned char lider = cabecalho[kEmLider];
    const int tipo = cabecalho[kEmTipo];
    if (tipo < kPrimeiroTipo || tipo > kUltimoTipo)
        return false;
    // 0x17 leads the Accept and nothing else; 0x16 every other type.
    if (lider != liderDoTipo(tipo))
        return false;
    tamanhoPayload = readInt16(cabecalho + kEmTamanho);
    return true;
}

int TamanhoDaMensagem(const unsigned char* cabecalho) {
    int tamanhoPayload = 0;
    if (!VerificarCabecalho(cabecalho, tamanhoPayload) || tamanhoPayload < 0 ||
        tamanhoPayload > kTamanhoBufferMensagem - kTamanhoMoldura)
        return -1;
    return tamanhoPayload + kTamanhoMoldura;
}

int ReconhecerMensagem(const unsigned char* mensagem, int n) {
    if (mensagem == nullptr || n < kTamanhoMoldura)
        return 0;
    const int tipo = mensagem[kEmTipo];
    if (tipo < kPrimeiroTipo || tipo > kUltimoTipo)
        return 0;
    if (mensagem[kEmLider] != liderDoTipo(tipo) || mensagem[kEmZero] != 0x00)
        return 0;
    // The fixed-size types are known by their size alone; their length field
    // is not compared with it.
    const int esperado = tipo == kJobData ? readLittleU16(mensagem + kEmTamanho) + kTamanhoMoldura
                                          : kTamanhoFixo[tipo];
    if (n != esperado || mensagem[n - 1] != kTerminador)
        return 0;
    return tipo;
}

int MontarMensagem(unsigned char* destino, int capacidade, const unsigned char codigo[3],
                   const unsigned char* payload, int tamanhoPayload, uint16_t palavraA,
                   uint16_t palavraB) {
    if (destino == nullptr || codigo == nullptr || tamanhoPayload < 0)
        return 0;
    if (payload == nullptr && tamanhoPayload > 0)
        return 0;
    if (tamanhoPayload > capacidade - kTamanhoMoldura)
        return 0;
    std::memcpy(destino, codigo, kTamanhoCodigo);
    writeInt16(destino + kEmPalavraA, palavraA);
    writeInt16(destino + kEmPalavraB, palavraB);
    writeInt16(destino + kEmTamanho, tamanhoPayload);
    if (tamanhoPayload > 0)
        std::memcpy(destino + kEmPayload, payload, static_cast<size_t>(tamanhoPayload));
    unsigned char* fim = destino + kEmPayload + tamanhoPayload;
    fim[0] = 0x00; // the check bytes, never examined by either side
    fim[1] = 0x00;
    fim[2] = kTerminador;
    return tamanhoPayload + kTamanhoMoldura;
}

int DecodificarJob(const unsigned char* mensagem, int n, struct_tracedata& registro) {
    if (mensagem == nullptr || n < kMensagemJob)
        return kResultadoInvalido;
    // The payload's blocks may reach to the message's last byte.
    return DecodificarPayloadJob(mensagem + kEmPayload, n - kEmPayload, registro)
               ? kResultadoTracado
               : kResultadoInvalido;
}

int MontarMensagemJob(unsigned char* resposta, const unsigned char* pedido) {
    const Palavras trocadas = palavrasTrocadas(pedido);
    unsigned char payload[kPayloadJob];
    // No job has come since the start: a job of zeros would mean nothing to the device.
    if (!EscreverPayloadJob(payload))
        return montarErro(resposta, trocadas);
    return montarDoTipo(resposta, kJobData, payload, kPayloadJob, trocadas);
}

int TratarMensagem(const unsigned char* mensagem, int n, unsigned char* resposta,
                   int& tamanhoResposta, struct_tracedata& registro) {
    tamanhoResposta = 0;
    const int tipo = ReconhecerMensagem(mensagem, n);
    if (tipo == 0)
        return kResultadoInvalido;
    const Palavras trocadas = palavrasTrocadas(mensagem);

    switch (tipo) {
    case kStartRequest:
        tamanhoResposta = responderAccept(resposta, trocadas);
        return kResultadoNada;
    case kAccept:
        return kResultadoNada;
    case kJobRequest:
        return tratarPedidoDeJob(resposta, tamanhoResposta, trocadas, registro);
    case kJobData:
        if (DecodificarJob(mensagem, n, registro) != kResultadoTracado)
            return kResultadoInvalido;
        tamanhoResposta = responderAccept(resposta, trocadas);
        return kResultadoTracado;
    case kEndRequest:
        // The one reply whose word B is not the request's word A.
        tamanhoResposta = montarDoTipo(resposta, kEndRequest, nullptr, 0, {trocadas.a, 0});
        return kResultadoNada;
    case kConnectionEnded:
        return kResultadoEncerrado;
    case kErrorMessage:
        return kResultadoErro;
    case kJobIdentification:
        return tratarIdentificacao(mensagem, resposta, tamanhoResposta, trocadas, registro);
    default:
        return kResultadoInvalido;
    }
}
