// The main window: applies the configuration, opens the tracer's channel,
// runs the readings started by the user and shows the last frame.
#pragma once

#include "Calibration.h"
#include "Mensagem.h"
#include "Parametros.h"
#include "Readingfile.h"
#include "Serialtextdcs.h"
#include "Tracedata.h"
#include "Tracermodels.h"

#include <QLocale>
#include <QMainWindow>
#include <array>
#include <functional>
#include <memory>
#include <string>

class ConexaoTcp;
class QAction;
class QFrame;
class QLabel;
class QPushButton;
class QTcpServer;
class QTimer;

// A reading run to completion by "Leitura" (the models read on click): fills
// the record and returns 0, or an error number with a detail text.
using LeituraSincrona = std::function<int64_t(struct_tracedata& record, const std::string& device,
                                              int baudRate, std::string& detail)>;
// What the timer-driven reading (the DCS models) does: start a fresh record
// when the port is (re)opened, and take the bytes waiting on the open port.
struct TratadorSerial {
    std::function<void()> reiniciar;
    std::function<void(CommPort& port, struct_tracedata& record)> processar;
};

extern const char* const kMensagemSemParametros;
extern const char* const kMensagemPortaSerial;
extern const char* const kMensagemBaudRate;
extern const char* const kMensagemPortaTcp;
extern const char* const kMensagemTracerInvalido;
extern const char* const kMensagemServidor;
// How often a channel that could not be opened, or was lost, is tried again.
constexpr int kIntervaloReaberturaMs = 3000;
// What the user reads when the timer-driven port does not open, or is lost.
QString MensagemPortaNaoAbriu(const std::string& porta, const std::string& causa);
QString MensagemPortaPerdida(const std::string& porta);

// The digits of `numero` in groups of three, apart by the locale's group
// separator (a comma where it has none): 40.020.040 for pt_BR.
QString NumeroAgrupado(int64_t numero, const QLocale& locale);
// "Houve um problema na leitura (10.010):..." with the digits grouped by the
// user's thousands separator.
QString MensagemErroLeitura(int64_t numero, const std::string& detalhe,
                            const QLocale& locale = QLocale::system());

class TformPrincipal : public QMainWindow {
    Q_OBJECT

public:
    explicit TformPrincipal(QWidget* parent = nullptr);
    ~TformPrincipal() override;

    void AplicarParametros();
    int AbrirServidor();

    void setLeituraSincrona(int modelo, LeituraSincrona leitura);
    // The configuration file; set from the executable's place when first shown.
    void setCaminhoIni(const std::string& path) { m_caminhoIni = path; }

    const struct_parametros& configuracao() const { return m_parametros; }
    const ReadingContext& contextoLeitura() const { return m_contexto; }
    const std::string& diretorioLeitura() const { return m_diretorioLeitura; }
    struct_tracedata& registro() { return *m_registro; }
    QTcpServer& servidor() { return *ServerSocketZURServer; }
    CommPort& portaTimer() { return m_portaTimer; }
    QTimer& timerSerial() { return *TimerSerial; }
    QTimer& timerReabertura() { return *m_timerReabertura; }
    // Shows a frame picture given as BMP bytes, as after a reading.
    void mostrarImagem(const unsigned char* bmp, int size) {
        m_ui.showImage(bmp, size);
        m_ui.drawPendingImage();
    }

public slots:
    void btnLeituraSerialClick();
    void btnPararClick();
    void Parametros1Click();
    void Sobre1Click();
    void Sair1Click();
    void TimerSerialTimer();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormShow();
    // The TCP server's client events, delivered to the network service.
    void aceitarConexoes();
    void clienteLeu(ConexaoTcp* conexao);
    void clienteErro(ConexaoTcp* conexao, int erro);
    void clienteDesconectou(ConexaoTcp* conexao);
    // Stops listening and drops every client connection, freeing its slot.
    void fecharServidor();
    void criarControles();
    bool verificarPortaSerial();
    void aplicarModelo();
    bool abrirServidorConfigurado();
    // Opens the timer-driven port and starts reading; when it does not open,
    // says so once and tries again every kIntervaloReaberturaMs.
    void iniciarLeituraTemporizada();
    // The open port failed or hung up: closed, said once, tried again.
    void perderPorta();
    // The retry's tick: the channel of the configured model opened again.
    void tentarDeNovo();
    // lblSituacao: what the window serves (green), or "sem conexão" and why (red).
    void mostrarSituacao(bool servindo, const QString& situacao);
    // The channel serves nothing: the status line says why, the user hears
    // `mensagem` once (until the channel serves again), and it is tried again.
    void semConexao(const QString& situacao, const QString& mensagem);
    void salvarLeitura();

    // Controls, in their declaration order.
    QLabel* ImageFrame = nullptr;
    QPushButton* btnLeituraSerial = nullptr;
    QPushButton* btnCalibrar = nullptr;
    QFrame* Bevel1 = nullptr;
    QLabel* lblImagemDoAro = nullptr;
    QTcpServer* ServerSocketZURServer = nullptr;
    QAction* Parametros1 = nullptr;
    QAction* Sobre1 = nullptr;
    QAction* Sair1 = nullptr;
    QLabel* lblRotuloPorta = nullptr;
    QLabel* lblPorta = nullptr;
    QFrame* Bevel2 = nullptr;
    QLabel* lblTracer = nullptr;
    QTimer* TimerSerial = nullptr;
    QPushButton* btnParar = nullptr;
    QLabel* lblSituacao = nullptr;
    QTimer* m_timerReabertura = nullptr;
    bool m_perdaDita = false; // the channel's loss has been said; its tries are quiet

    bool m_mostrada = false;
    struct_parametros m_parametros;
    std::string m_caminhoIni;
    std::string m_diretorioLeitura;
    std::string m_dispositivoSerial;
    ReadingContext m_contexto;
    std::unique_ptr<struct_tracedata> m_registro;
    CommPort m_portaTimer;
    DcsReceiveBuffer m_recepcaoDcs; // what the timer-driven port has received of a record
    QtUserInterface m_ui;
    std::array<LeituraSincrona, kTracerModels.size()> m_leituras; // by model number
    TratadorSerial m_tratadorSerial;
    quint16 m_portaServidor = 55555;
};

extern TformPrincipal* formPrincipal;
