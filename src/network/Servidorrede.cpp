#include "Servidorrede.h"

#include "Conexoesrede.h"
#include "Irxserver.h"
#include "Userinterface.h"

const char* const kMensagemInconsistencia =
    "Encerrando conexão devido a inconsistência na comunicação.";
const char* const kMensagemInvalida = "Ocorreu um erro de comunicação com o Dispositivo. Foi "
                                      "recebida informação inválida do Dispositivo.";
const char* const kMensagemAbortada = "Ocorreu um erro de comunicação com o Dispositivo. A "
                                      "conexão for abortada pelo Dispositivo.";
const char* const kMensagemErroReportado = "Ocorreu um erro de comunicação com o Dispositivo. "
                                           "Um erro foi reportado pelo Dispositivo.";
const char* const kMensagemConexaoPerdida =
    "A conexão com o dispositivo foi perdida. Por favor, reinicie o processo.";
const char* const kMensagemErroEnvio =
    "Houve um erro de comunicação com o dispositivo. Por favor, reinicie o processo.";

namespace {

constexpr int kTamanhoRecepcao = 10000; // bytes taken from the socket per notification

void mostrar(ContextoRede& contexto, const char* texto) {
    if (contexto.ui != nullptr)
        contexto.ui->showMessage(texto);
}

void mostrar(ContextoRede& contexto, const std::string& texto) {
    if (contexto.ui != nullptr)
        contexto.ui->showMessage(texto);
}

// Every close of the program's own goes through here, for the capture.
void fechar(ConexaoCliente& conexao) {
    if (conexao.captura)
        conexao.captura->closed();
    conexao.fechar();
}

// Ends a connection whose stream can no longer be followed.
int encerrar(ConexaoCliente& conexao, ContextoRede& contexto, const char* texto) {
    mostrar(contexto, texto);
    fechar(conexao);
    return 0;
}

// What an outcome of the handler asks for, once its reply has gone out.
int agir(int resultado, const unsigned char* mensagem, ConexaoCliente& conexao,
         ContextoRede& contexto) {
    switch (resultado) {
    case kResultadoNada:
        return 1;
    case kResultadoTracado:
        if (contexto.leitura != nullptr && contexto.ui != nullptr)
            // The save flow tells the user how it went; the tracer's exchange goes on alike.
            static_cast<void>(saveReading(*contexto.registro, contexto.diretorioLeitura,
                                          *contexto.leitura, *contexto.ui));
        return 1;
    case kResultadoEnviarJob: {
        unsigned char job[kTamanhoBufferMensagem];
        const int tamanho = MontarMensagemJob(job, mensagem);
        std::string erro;
        if (EnviarAoDispositivo(job, tamanho, conexao, erro) != 0)
            mostrar(contexto, erro);
        return 1;
    }
    case kResultadoInvalido:
        return encerrar(conexao, contexto, kMensagemInvalida);
    case kResultadoEncerrado:
        return encerrar(conexao, contexto, kMensagemAbortada);
    case kResultadoErro:
        return encerrar(conexao, contexto, kMensagemErroReportado);
    default:
        return 0;
    }
}

} // namespace

int EnviarAoDispositivo(const unsigned char* bytes, int quantidade, ConexaoCliente& conexao,
                        std::string& erro) {
    if (!conexao.conectada()) {
        erro = kMensagemConexaoPerdida;
        return -1;
    }
    if (!conexao.enviar(bytes, quantidade)) {
        fechar(conexao);
        erro = kMensagemErroEnvio;
        return -2;
    }
    if (conexao.captura && quantidade > 0)
        conexao.captura->toDevice(bytes, static_cast<std::size_t>(quantidade));
    return 0;
}

int ProcessarMensagem(ConexaoCliente& conexao, ContextoRede& contexto) {
    if (contexto.registro == nullptr)
        return 0;
    int guardados = 0;
    if (BytesNoAnel(&conexao, conexao.slot, guardados) != 0 || guardados < kTamanhoMoldura)
        return 0;
    unsigned char cabecalho[kTamanhoCabecalho];
    if (EspiarAnel(&conexao, conexao.slot, cabecalho, kTamanhoCabecalho) != 0)
        return 0;
    const int total = TamanhoDaMensagem(cabecalho);
    if (total < 0)
        return encerrar(conexao, contexto, kMensagemInconsistencia);
    if (guardados < total)
        return 0; // the rest has not arrived yet

    unsigned char mensagem[kTamanhoBufferMensagem];
    if (EspiarAnel(&conexao, conexao.slot, mensagem, total) != 0)
        return 0;
    // Just peeked, so they are there: taking them cannot fail.
    static_cast<void>(ConsumirDoAnel(&conexao, conexao.slot, total));

    unsigned char resposta[kTamanhoBufferMensagem];
    int tamanhoResposta = 0;
    const int resultado =
        TratarMensagem(mensagem, total, resposta, tamanhoResposta, *contexto.registro);
    if (tamanhoResposta > 0) {
        std::string erro;
        if (EnviarAoDispositivo(resposta, tamanhoResposta, conexao, erro) != 0) {
            mostrar(contexto, erro);
            return 1; // the reply did not reach the device: its outcome is not acted on
        }
    }
    return agir(resultado, mensagem, conexao, contexto);
}

void ServerSocketZURServerClientConnect(ConexaoCliente& conexao) {
    if (capturing()) // the peer's address is looked up only for a capture
        conexao.captura = TracerCapture::tcp(conexao.enderecoRemoto());
    int slot = -1;
    if (AlocarSlot(&conexao, slot) == 0) {
        conexao.slot = slot;
        return;
    }
    conexao.slot = -1;
    fechar(conexao); // the table is full
}

void ServerSocketZURServerClientRead(ConexaoCliente& conexao, ContextoRede& contexto) {
    if (!conexao.conectada())
        return;
    if (conexao.slot < 0) {
        fechar(conexao);
        return;
    }
    unsigned char recebidos[kTamanhoRecepcao];
    const int quantidade = conexao.receber(recebidos, kTamanhoRecepcao);
    if (quantidade < 0)
        return;
    if (conexao.captura)
        conexao.captura->fromDevice(recebidos, static_cast<std::size_t>(quantidade));
    // Bytes that do not fit the ring are dropped; what it holds is still handled.
    static_cast<void>(AnexarAoAnel(&conexao, conexao.slot, recebidos, quantidade));
    while (ProcessarMensagem(conexao, contexto) == 1) {
    }
}

void ServerSocketZURServerClientError(ConexaoCliente& conexao, int& codigo) {
    if (codigo != kConexaoAbortada)
        return;
    codigo = 0;
    fechar(conexao);
}

void ServerSocketZURServerClientDisconnect(ConexaoCliente& conexao) {
    // Released without the program having closed it: the device went away.
    if (conexao.captura) {
        if (!conexao.captura->closedRecorded())
            conexao.captura->hangUp();
        conexao.captura.reset();
    }
    // A release refused because another connection owns the slot is ignored.
    if (conexao.slot >= 0 && LiberarSlot(&conexao, conexao.slot) == 0)
        conexao.slot = -1;
}
