#include "Principal.h"

#include "Commnavis.h"
#include "Conexaotcp.h"
#include "Conexoesrede.h"
#include "Edicao.h"
#include "Fontes.h"
#include "Parametroskrvw.h"
#include "Serial.h"
#include "Serialports.h"
#include "Serialtextdcs.h"
#include "Servidorrede.h"
#include "Sobrekrvw.h"
#include "Takubo.h"
#include "Tracercapture.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QMenuBar>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

TformPrincipal* formPrincipal = nullptr;

const char* const kMensagemSemParametros =
    "Não há Parâmetros configurados. Verifique \"Parâmetros\".";
const char* const kMensagemPortaSerial = "Porta Serial não disponível. Verifique \"Parâmetros\"";
const char* const kMensagemBaudRate = "Baud Rate inválida. Verifique \"Parâmetros\"";
const char* const kMensagemPortaTcp =
    "Porta TCP deve ser um número entre 1 e 65535. Verifique \"Parâmetros\".";
const char* const kMensagemTracerInvalido =
    "Valor de \"Tracer\" inválido. Verifique \"Parâmetros\".";
const char* const kMensagemServidor = "Não foi possível abrir a conexão para comunicação com o "
                                      "Dispositivo. Verifique se a porta já está em uso.";

namespace {

// The end of both port messages: when the port is tried again.
QString tentaDeNovo() {
    return QStringLiteral("\n\nO programa tenta abri-la de novo a cada %1 segundos.")
        .arg(kIntervaloReaberturaMs / 1000);
}

} // namespace

QString MensagemPortaNaoAbriu(const std::string& porta, const std::string& causa) {
    return QStringLiteral("Não foi possível abrir a porta serial ") +
           QString::fromStdString(porta) + QStringLiteral(": ") + QString::fromStdString(causa) +
           QStringLiteral(".") + tentaDeNovo();
}

QString MensagemPortaPerdida(const std::string& porta) {
    return QStringLiteral("A conexão com o Tracer na porta serial ") +
           QString::fromStdString(porta) +
           QStringLiteral(" foi perdida: o adaptador foi desconectado ou deixou de responder.") +
           tentaDeNovo();
}

namespace {

// Why the server could not listen, in the user's words.
QString causaDoServidor(const QTcpServer& servidor) {
    switch (servidor.serverError()) {
    case QAbstractSocket::AddressInUseError:
        return QStringLiteral("já está em uso por outro programa");
    case QAbstractSocket::SocketAccessError:
        return QStringLiteral("sem permissão para usá-la");
    default:
        return servidor.errorString();
    }
}

constexpr int kTimerInterval = 500; // ms between looks at the timer-driven port
constexpr int kClientWidth = 531;
constexpr int kClientHeight = 322;

// The wait cursor while a synchronous reading holds the message loop (the
// window cannot repaint meanwhile). Restored by restaurar() before anything is
// shown to the user, and in any case when the guard goes out of scope.
class CursorDeEspera {
public:
    CursorDeEspera() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CursorDeEspera() { restaurar(); }
    CursorDeEspera(const CursorDeEspera&) = delete;
    CursorDeEspera& operator=(const CursorDeEspera&) = delete;
    void restaurar() {
        if (m_ativo)
            QApplication::restoreOverrideCursor();
        m_ativo = false;
    }

private:
    bool m_ativo = true;
};

QPushButton* criarBotao(QWidget* parent, const char* nome, const QString& texto, int x, int y) {
    auto* button = new QPushButton(texto, parent);
    button->setObjectName(QString::fromLatin1(nome));
    button->setGeometry(x, y, 75, 25);
    return button;
}

QLabel* criarRotulo(QWidget* parent, const char* nome, const QString& texto, int x, int y,
                    const QFont& font) {
    auto* label = new QLabel(texto, parent);
    label->setObjectName(QString::fromLatin1(nome));
    label->setFont(font);
    label->move(x, y);
    label->adjustSize();
    return label;
}

} // namespace

QString NumeroAgrupado(int64_t numero, const QLocale& locale) {
    // Groups of three in every locale (the steps of the nested error number
    // read apart), whatever grouping the locale uses for other numbers.
    QString separador = locale.groupSeparator();
    if (separador.isEmpty())
        separador = QStringLiteral(",");
    // The locale's own digits, unless one of them takes two UTF-16 units.
    const uint64_t grandeza = numero < 0 ? 0 - static_cast<uint64_t>(numero) : numero;
    const QString latinos = QString::number(grandeza);
    QLocale semGrupos = locale;
    semGrupos.setNumberOptions(QLocale::OmitGroupSeparator);
    QString digitos = semGrupos.toString(static_cast<qulonglong>(grandeza));
    if (digitos.size() != latinos.size())
        digitos = latinos;
    QString texto;
    for (qsizetype i = 0; i < digitos.size(); ++i) {
        if (i > 0 && (digitos.size() - i) % 3 == 0)
            texto += separador;
        texto += digitos[i];
    }
    return numero < 0 ? locale.negativeSign() + texto : texto;
}

QString MensagemErroLeitura(int64_t numero, const std::string& detalhe, const QLocale& locale) {
    return QStringLiteral("Houve um problema na leitura (") + NumeroAgrupado(numero, locale) +
           QStringLiteral("):\n\n - ") + QString::fromStdString(detalhe) +
           QStringLiteral("\n\nReinicie o Tracer, efetue uma nova leitura e tente novamente.");
}

TformPrincipal::TformPrincipal(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                              Qt::MSWindowsFixedSizeDialogHint),
      m_registro(std::make_unique<struct_tracedata>()) {
    setObjectName(QStringLiteral("formPrincipal"));
    setFont(fonteJanela());
    clearTraceData(*m_registro);
    criarControles();
    m_ui.setImageLabel(ImageFrame);
    move(200, 185);

    // The tracer protocols: LT980 and Takubomatic read on "Leitura"; the DCS
    // tracers are polled by the timer and save each tracing themselves.
    const auto syncReading = [](auto reader) {
        return [reader](struct_tracedata& record, const std::string& device, int baudRate,
                        std::string& detail) {
            return reader(record, device.c_str(), baudRate, detail);
        };
    };
    for (std::size_t i = 0; i < kTracerModels.size(); ++i) {
        if (kTracerModels[i].protocol == TracerProtocol::Lt980)
            m_leituras[i] = syncReading(ReadLt980);
        else if (kTracerModels[i].protocol == TracerProtocol::Takubomatic)
            m_leituras[i] = syncReading(ReadTakubomatic);
    }
    m_tratadorSerial.reiniciar = [this] { ResetDcsBuffer(m_recepcaoDcs); };
    m_tratadorSerial.processar = [this](CommPort& port, struct_tracedata& record) {
        DcsContext context{&m_contexto, m_diretorioLeitura, &m_ui,
                           m_parametros.formatoDcs == 4 ? TraceFormatOrder::PackedFirst
                                                        : TraceFormatOrder::DecimalFirst};
        PollDcs(m_recepcaoDcs, port, record, context);
    };
}

TformPrincipal::~TformPrincipal() {
    std::string detail;
    static_cast<void>(StopTimedReading(m_portaTimer, detail)); // no one left to tell
}

void TformPrincipal::criarControles() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);

    ImageFrame = new QLabel(client);
    ImageFrame->setObjectName(QStringLiteral("ImageFrame"));
    ImageFrame->setGeometry(10, 56, 512, 256);
    btnLeituraSerial = criarBotao(client, "btnLeituraSerial", QStringLiteral("Leitura"), 452, 21);
    // "Calibrar" is shown for the tracers that calibrate, and has no action.
    btnCalibrar = criarBotao(client, "btnCalibrar", QStringLiteral("Calibrar"), 293, 21);
    Bevel1 = new QFrame(client);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Bevel1->setGeometry(6, 52, 521, 264);
    Bevel1->lower();
    lblImagemDoAro = criarRotulo(client, "lblImagemDoAro", QStringLiteral("Imagem do aro"), 10, 37,
                                 fonteArialNegrito(11));

    ServerSocketZURServer = new QTcpServer(this);
    ServerSocketZURServer->setObjectName(QStringLiteral("ServerSocketZURServer"));
    connect(ServerSocketZURServer, &QTcpServer::newConnection, this,
            &TformPrincipal::aceitarConexoes);

    auto* MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    Parametros1 = MainMenu1->addAction(QStringLiteral("Parâmetros"));
    Parametros1->setObjectName(QStringLiteral("Parametros1"));
    Sobre1 = MainMenu1->addAction(QStringLiteral("Sobre"));
    Sobre1->setObjectName(QStringLiteral("Sobre1"));
    Sair1 = MainMenu1->addAction(QStringLiteral("Sair"));
    Sair1->setObjectName(QStringLiteral("Sair1"));

    QPalette green = palette();
    green.setColor(QPalette::WindowText, QColor(0, 128, 0));
    lblRotuloPorta = criarRotulo(client, "lblRotuloPorta", QStringLiteral("Porta:"), 448, 4,
                                 fonteArialNegrito(13));
    lblRotuloPorta->setPalette(green);
    lblPorta = criarRotulo(client, "lblPorta", QString(), 490, 4, fonteArialNegrito(13));
    lblPorta->setPalette(green);
    lblPorta->setMinimumWidth(40);
    // A bottom line: the separator under the menu.
    Bevel2 = new QFrame(client);
    Bevel2->setObjectName(QStringLiteral("Bevel2"));
    Bevel2->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    Bevel2->setGeometry(-3, -11, 535, 13);
    Bevel2->setContentsMargins(0, 11, 0, 0);
    lblTracer =
        criarRotulo(client, "lblTracer", QStringLiteral("Tracer:"), 8, 4, fonteArialNegrito(13));
    TimerSerial = new QTimer(this);
    TimerSerial->setObjectName(QStringLiteral("TimerSerial"));
    TimerSerial->setInterval(kTimerInterval);
    btnParar = criarBotao(client, "btnParar", QStringLiteral("Parar"), 372, 21);
    // What the window serves, between the picture's caption and the buttons.
    lblSituacao = criarRotulo(client, "lblSituacao", QString(), 110, 37, fonteArialNegrito(11));
    lblSituacao->setFixedWidth(178);
    m_timerReabertura = new QTimer(this);
    m_timerReabertura->setObjectName(QStringLiteral("timerReabertura"));
    m_timerReabertura->setInterval(kIntervaloReaberturaMs);
    connect(m_timerReabertura, &QTimer::timeout, this, &TformPrincipal::tentarDeNovo);

    setTabOrder(btnLeituraSerial, btnCalibrar);
    setTabOrder(btnCalibrar, btnParar);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    connect(btnLeituraSerial, &QPushButton::clicked, this, &TformPrincipal::btnLeituraSerialClick);
    connect(btnParar, &QPushButton::clicked, this, &TformPrincipal::btnPararClick);
    connect(Parametros1, &QAction::triggered, this, &TformPrincipal::Parametros1Click);
    connect(Sobre1, &QAction::triggered, this, &TformPrincipal::Sobre1Click);
    connect(Sair1, &QAction::triggered, this, &TformPrincipal::Sair1Click);
    connect(TimerSerial, &QTimer::timeout, this, &TformPrincipal::TimerSerialTimer);
}

void TformPrincipal::setLeituraSincrona(int modelo, LeituraSincrona leitura) {
    if (const TracerModel* tracer = tracerModel(modelo);
        tracer != nullptr && tracer->channel == TracerChannel::ReadOnClick)
        m_leituras[static_cast<std::size_t>(modelo)] = std::move(leitura);
}

void TformPrincipal::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_mostrada)
        return;
    m_mostrada = true;
    // After the window is on screen, so that its messages appear above it.
    QTimer::singleShot(0, this, &TformPrincipal::FormShow);
}

void TformPrincipal::FormShow() {
    clearTraceData(*m_registro);
    InicializarTabelaDeConexoes();
    setWindowTitle(TituloJanela());
    if (m_caminhoIni.empty())
        m_caminhoIni = CaminhoIni();
    AplicarParametros();
}

void TformPrincipal::closeEvent(QCloseEvent* event) {
    fecharServidor(); // FormClose
    QMainWindow::closeEvent(event);
}

void TformPrincipal::AplicarParametros() {
    btnCalibrar->hide();
    btnLeituraSerial->hide();
    btnParar->hide();
    lblPorta->hide();
    lblRotuloPorta->hide();
    lblPorta->clear();
    // A new configuration is opened at once, and its failure said again.
    m_timerReabertura->stop();
    m_perdaDita = false;
    TimerSerial->stop();
    mostrarSituacao(false, QString());
    fecharServidor();
    // The port is closed before every apply, open or not: "not open" is no news.
    std::string detail;
    static_cast<void>(StopTimedReading(m_portaTimer, detail));

    const int lido = LerParametros(m_parametros, m_caminhoIni, m_ui);
    m_diretorioLeitura = DiretorioLeitura(m_parametros.caminhoLeitura);
    m_contexto.noMsg = m_parametros.noMsg;
    if (lido == 0) {
        MostrarMensagem(QString::fromUtf8(kMensagemSemParametros));
        return;
    }

    const TracerModel* tracer = tracerModel(m_parametros.modeloTracer);
    if (tracer != nullptr && usesSerialPort(*tracer) && !verificarPortaSerial()) {
        lblTracer->setText(QString::fromUtf8(tracer->windowLabel));
        lblTracer->adjustSize();
        const bool ausente = !SerialPortExists(m_parametros.portaSerial.c_str());
        mostrarSituacao(false, ausente ? QString::fromStdString(m_parametros.portaSerial) +
                                             QStringLiteral(" não disponível")
                                       : QStringLiteral("Baud Rate inválida"));
        // A port of the timer that is absent now is read once it is plugged in.
        if (ausente && !m_parametros.portaSerial.empty() &&
            tracer->channel == TracerChannel::TimerFromStart) {
            m_perdaDita = true; // "not available" was said
            aplicarModelo();
        }
        return;
    }
    aplicarModelo();
}

bool TformPrincipal::verificarPortaSerial() {
    // Linux device names need no prefix: the port is opened by its own path.
    m_dispositivoSerial = m_parametros.portaSerial;
    if (!SerialPortExists(m_parametros.portaSerial.c_str())) {
        MostrarMensagem(QString::fromUtf8(kMensagemPortaSerial));
        return false;
    }
    if (tracerBaudRateIndex(m_parametros.baudRate.c_str()) < 0) {
        MostrarMensagem(QString::fromUtf8(kMensagemBaudRate));
        return false;
    }
    return true;
}

void TformPrincipal::aplicarModelo() {
    setCaptureModel(m_parametros.modeloTracer); // before the port or the server opens
    const TracerModel* tracer = tracerModel(m_parametros.modeloTracer);
    lblTracer->setText(tracer != nullptr ? QString::fromUtf8(tracer->windowLabel)
                                         : QStringLiteral("Tracer:"));
    lblTracer->adjustSize();
    if (tracer == nullptr) {
        MostrarMensagem(QString::fromUtf8(kMensagemTracerInvalido));
        return;
    }
    if (tracer->channel == TracerChannel::TcpServer && !abrirServidorConfigurado())
        return;
    m_contexto.vendor = tracer->vendor;
    m_contexto.model = tracer->model;
    if (tracer->calibrates)
        btnCalibrar->show();
    if (tracer->channel != TracerChannel::TcpServer)
        mostrarSituacao(true,
                        QStringLiteral("Porta: ") + QString::fromStdString(m_dispositivoSerial));
    switch (tracer->channel) {
    case TracerChannel::ReadOnClick:
        // Enabled too: a reading between "Leitura" and "Parar" stopped by a new
        // configuration leaves it disabled.
        btnLeituraSerial->setEnabled(true);
        btnLeituraSerial->show();
        break;
    case TracerChannel::TimerOnClick:
        btnLeituraSerial->setEnabled(true);
        btnLeituraSerial->show();
        btnParar->setEnabled(false);
        btnParar->show();
        break;
    case TracerChannel::TimerFromStart:
        iniciarLeituraTemporizada();
        break;
    case TracerChannel::TcpServer:
        break;
    }
}

// False, with the message shown, when the configured TCP port cannot be one.
// A server that does not open has said why itself; the model still applies.
bool TformPrincipal::abrirServidorConfigurado() {
    if (m_parametros.portaTcp < 1 || m_parametros.portaTcp > 65535) {
        MostrarMensagem(QString::fromUtf8(kMensagemPortaTcp));
        return false;
    }
    m_portaServidor = static_cast<quint16>(m_parametros.portaTcp);
    if (AbrirServidor() == 1)
        mostrarSituacao(true, QString());
    return true;
}

void TformPrincipal::mostrarSituacao(bool servindo, const QString& situacao) {
    if (servindo && situacao.isEmpty()) { // the server listens: its port is beside "Porta:"
        lblPorta->setText(QString::number(m_portaServidor));
        lblPorta->adjustSize();
        lblPorta->show();
        lblRotuloPorta->show();
    }
    QPalette cor = lblSituacao->palette();
    cor.setColor(QPalette::WindowText, servindo ? QColor(0, 128, 0) : QColor(192, 0, 0));
    lblSituacao->setPalette(cor);
    QString texto = situacao;
    if (!servindo)
        texto = situacao.isEmpty() ? QStringLiteral("sem conexão")
                                   : QStringLiteral("sem conexão: ") + situacao;
    // A long by-id name is shortened in its middle; the whole text is the hint.
    lblSituacao->setText(
        lblSituacao->fontMetrics().elidedText(texto, Qt::ElideMiddle, lblSituacao->width()));
    lblSituacao->setToolTip(texto);
}

void TformPrincipal::iniciarLeituraTemporizada() {
    std::string detail;
    int erro = 0;
    if (StartTimedReading(m_portaTimer, m_dispositivoSerial.c_str(),
                          std::stoi(m_parametros.baudRate), detail, &erro) == 0) {
        m_timerReabertura->stop();
        m_perdaDita = false;
        TimerSerial->start();
        if (m_tratadorSerial.reiniciar)
            m_tratadorSerial.reiniciar();
        mostrarSituacao(true,
                        QStringLiteral("Porta: ") + QString::fromStdString(m_dispositivoSerial));
        return;
    }
    TimerSerial->stop();
    const std::string causa = erro != 0
                                  ? OpenFailureCause(erro)
                                  : std::string("a porta não aceitou a configuração da linha");
    semConexao(QString::fromStdString(m_dispositivoSerial + " (" + causa + ")"),
               MensagemPortaNaoAbriu(m_dispositivoSerial, causa));
}

void TformPrincipal::perderPorta() {
    TimerSerial->stop();
    std::string detail;
    static_cast<void>(StopTimedReading(m_portaTimer, detail)); // gone already: nothing to add
    semConexao(QString::fromStdString(m_dispositivoSerial),
               MensagemPortaPerdida(m_dispositivoSerial));
}

void TformPrincipal::semConexao(const QString& situacao, const QString& mensagem) {
    mostrarSituacao(false, situacao);
    if (!m_perdaDita) {
        m_perdaDita = true;
        MostrarMensagem(mensagem);
    }
    m_timerReabertura->start();
}

void TformPrincipal::tentarDeNovo() {
    const TracerModel* tracer = tracerModel(m_parametros.modeloTracer);
    if (tracer == nullptr) {
        m_timerReabertura->stop();
        return;
    }
    if (tracer->channel == TracerChannel::TcpServer)
        static_cast<void>(abrirServidorConfigurado());
    else
        iniciarLeituraTemporizada();
}

int TformPrincipal::AbrirServidor() {
    if (!ServerSocketZURServer->listen(QHostAddress::Any, m_portaServidor)) {
        const QString causa = causaDoServidor(*ServerSocketZURServer);
        semConexao(QStringLiteral("porta TCP %1 (%2)").arg(m_portaServidor).arg(causa),
                   QString::fromUtf8(kMensagemServidor) +
                       QStringLiteral("\n\nPorta TCP %1: %2.").arg(m_portaServidor).arg(causa));
        return 0;
    }
    m_timerReabertura->stop();
    m_perdaDita = false;
    return 1;
}

void TformPrincipal::aceitarConexoes() {
    while (QTcpSocket* socket = ServerSocketZURServer->nextPendingConnection()) {
        auto* conexao = new ConexaoTcp(socket, this);
        // Connected before the connect event, which may close it at once.
        connect(socket, &QTcpSocket::readyRead, conexao, [this, conexao] { clienteLeu(conexao); });
        connect(socket, &QTcpSocket::errorOccurred, conexao,
                [this, conexao](QAbstractSocket::SocketError erro) {
                    clienteErro(conexao, static_cast<int>(erro));
                });
        connect(socket, &QTcpSocket::disconnected, conexao,
                [this, conexao] { clienteDesconectou(conexao); });
        ServerSocketZURServerClientConnect(*conexao);
    }
}

// One read notification takes at most 10,000 bytes; the socket announces
// only new bytes, so the ones still waiting are taken here, notification
// after notification, until none is left or the connection is closed.
void TformPrincipal::clienteLeu(ConexaoTcp* conexao) {
    ContextoRede contexto{m_registro.get(), &m_contexto, m_diretorioLeitura, &m_ui};
    do
        ServerSocketZURServerClientRead(*conexao, contexto);
    while (!conexao->encerrada() && conexao->conectada() && conexao->haBytesEsperando());
}

void TformPrincipal::clienteErro(ConexaoTcp* conexao, int erro) {
    // A connection reset or aborted under the program is the socket layer's
    // "connection aborted"; the peer's orderly close is no error (the
    // disconnect follows).
    if (erro == QAbstractSocket::RemoteHostClosedError)
        return;
    int codigo = erro == QAbstractSocket::NetworkError ? kConexaoAbortada : 10000 + erro;
    ServerSocketZURServerClientError(*conexao, codigo);
}

void TformPrincipal::clienteDesconectou(ConexaoTcp* conexao) {
    conexao->encerrar();
}

void TformPrincipal::fecharServidor() {
    ServerSocketZURServer->close();
    // The dropped connections get no disconnect notification: each frees its
    // slot here, so that a server opened again has all ten.
    for (ConexaoTcp* conexao : findChildren<ConexaoTcp*>(Qt::FindDirectChildrenOnly)) {
        if (conexao->encerrada())
            continue;
        conexao->socket()->disconnect(conexao);
        conexao->socket()->abort();
        conexao->encerrar();
    }
}

void TformPrincipal::btnLeituraSerialClick() {
    m_contexto.model.clear();
    const TracerModel* tracer = tracerModel(m_parametros.modeloTracer);
    if (tracer == nullptr)
        return;
    if (tracer->channel == TracerChannel::ReadOnClick) {
        const LeituraSincrona& leitura =
            m_leituras[static_cast<std::size_t>(m_parametros.modeloTracer)];
        if (!leitura)
            return;
        std::string detail;
        CursorDeEspera espera;
        const int64_t numero =
            leitura(*m_registro, m_dispositivoSerial, std::stoi(m_parametros.baudRate), detail);
        espera.restaurar();
        if (numero != 0) {
            MostrarMensagem(MensagemErroLeitura(numero, detail));
            return;
        }
        salvarLeitura();
    } else if (tracer->channel == TracerChannel::TimerOnClick) {
        m_perdaDita = false;
        iniciarLeituraTemporizada();
        btnLeituraSerial->setEnabled(false);
        btnParar->setEnabled(true);
    }
}

void TformPrincipal::salvarLeitura() {
    // The save flow tells the user how it went.
    static_cast<void>(saveReading(*m_registro, m_diretorioLeitura, m_contexto, m_ui));
}

void TformPrincipal::btnPararClick() {
    AplicarParametros();
}

void TformPrincipal::Parametros1Click() {
    if (formParametrosKRVW == nullptr)
        return;
    formParametrosKRVW->setCaminhoIni(m_caminhoIni);
    if (formParametrosKRVW->exec() == 1)
        AplicarParametros();
}

void TformPrincipal::Sobre1Click() {
    if (formSobreKRVW != nullptr)
        formSobreKRVW->exec();
}

void TformPrincipal::Sair1Click() {
    QApplication::quit();
}

// One look at the timer-driven port: the bytes waiting, if any, go to the
// DCS protocol, which answers and saves before the next tick.
// A port that fails or hangs up (the adapter pulled) is closed and tried again.
void TformPrincipal::TimerSerialTimer() {
    uint32_t errors = 0;
    if (!m_portaTimer.isOpen()) {
        TimerSerial->stop();
        return;
    }
    if (m_portaTimer.ClearError(errors) != 0) {
        perderPorta();
        return;
    }
    if (m_portaTimer.status.cbInQue == 0)
        return;
    if (m_tratadorSerial.processar)
        m_tratadorSerial.processar(m_portaTimer, *m_registro);
}
