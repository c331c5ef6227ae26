#include "Parametroskrvw.h"

#include "Fontes.h"
#include "Mensagem.h"
#include "Readingfile.h"
#include "Tracermodels.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QShowEvent>
#include <QToolButton>
#include <algorithm>

TformParametrosKRVW* formParametrosKRVW = nullptr;

namespace {

// clang-format off
const LayoutParametros kLayoutKRVW = {
    "formParametrosKRVW", 265, 245, 547, 112,
    174, 249, 169, 34, 238, 210,
    "NIDEK LT1000/LT1200", true, Edicao::Web,
};
// clang-format on

const char* const kMensagemTracer = "Valor de Tracer inválido. Verifique.";
const char* const kMensagemPortaSerial = "Porta Serial inválida. Verifique.";
const char* const kMensagemBaudRate = "Baud Rate inválido. Verifique.";
const char* const kMensagemTcpNumero = "Porta TCP deve ser um número. Verifique.";
const char* const kMensagemTcpFaixa = "Porta TCP deve ser um número entre 1 e 65535. Verifique.";
const char* const kMensagemCaminhoAusente = "Caminho inválido: a pasta não existe. Verifique.";
const char* const kMensagemCaminhoSemAcesso =
    "Caminho inválido: sem permissão para gravar na pasta. Verifique.";

// The mark of a configured serial port that is not present now.
const char* const kMarcaAusente = " (ausente)";
constexpr int kFolgaDaLista = 32; // pixels beside the longest name: margins and scroll bar

// TCP ports are 16-bit; 0 means "any port" and cannot be configured.
constexpr int kPortaTcpMinima = 1;
constexpr int kPortaTcpMaxima = 65535;

// Fixed places of the layout, the same in both editions.
constexpr int kTopoBotoes = 4;
constexpr int kLarguraBotao = 23;
constexpr int kAlturaBotao = 22;
constexpr int kAlturaLista = 21; // drop-down lists and edits
constexpr int kTopoGrupo = 72;
constexpr int kAlturaGrupo = 109;
constexpr int kEsquerdaNoGrupo = 72;
constexpr int kEspacoRotulo = 3; // between an edit and its label on the left
constexpr int kLadoIcone = 16;

// Whether model `modelo` (a place in cbTracer, -1 for none) reads from a
// serial port, or from the TCP server.
bool modeloSerial(int modelo) {
    const TracerModel* tracer = tracerModel(modelo);
    return tracer != nullptr && usesSerialPort(*tracer);
}

bool modeloRede(int modelo) {
    const TracerModel* tracer = tracerModel(modelo);
    return tracer != nullptr && tracer->channel == TracerChannel::TcpServer;
}

QFont fonteNegrito() {
    QFont font = fonteJanela();
    font.setBold(true);
    return font;
}

// A label sized to its text; `font` null: the parent's font.
QLabel* criarRotulo(QWidget* parent, const char* nome, const QString& texto, int x, int y,
                    const QFont* font = nullptr) {
    auto* label = new QLabel(texto, parent);
    label->setObjectName(QString::fromLatin1(nome));
    if (font != nullptr)
        label->setFont(*font);
    label->adjustSize();
    label->move(x, y);
    return label;
}

// A label whose right edge lies kEspacoRotulo pixels left of the edit, centred
// on the edit's height.
QLabel* criarRotuloAEsquerda(QWidget* parent, const char* nome, const QString& texto,
                             const QWidget* edit, const QFont* font = nullptr) {
    QLabel* label = criarRotulo(parent, nome, texto, 0, 0, font);
    const QRect g = edit->geometry();
    label->move(g.x() - kEspacoRotulo - label->width(), g.y() + (g.height() - label->height()) / 2);
    return label;
}

QComboBox* criarLista(QWidget* parent, const char* nome, int x, int y, int largura) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(nome));
    combo->setEditable(false);
    combo->setGeometry(x, y, largura, kAlturaLista);
    return combo;
}

QLineEdit* criarEdicao(QWidget* parent, const char* nome, int x, int y, int largura) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(nome));
    edit->setGeometry(x, y, largura, kAlturaLista);
    return edit;
}

// Starts painting on a clear icon.
void telaIcone(QPainter& painter, QPixmap& pixmap) {
    pixmap.fill(Qt::transparent);
    painter.begin(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
}

// A green check mark.
QIcon iconeConfirmar() {
    QPixmap pixmap(kLadoIcone, kLadoIcone);
    QPainter painter;
    telaIcone(painter, pixmap);
    painter.setPen(QPen(QColor(0, 128, 0), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF marca[] = {{3.0, 8.5}, {6.5, 12.0}, {13.0, 4.0}};
    painter.drawPolyline(marca, 3);
    painter.end();
    return QIcon(pixmap);
}

// A blue arrow that turns back to the left.
QIcon iconeDesfazer() {
    QPixmap pixmap(kLadoIcone, kLadoIcone);
    QPainter painter;
    telaIcone(painter, pixmap);
    const QColor azul(0, 64, 160);
    painter.setPen(QPen(azul, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath volta;
    volta.moveTo(6.0, 6.0);
    volta.lineTo(9.0, 6.0);
    volta.cubicTo(14.5, 6.0, 14.5, 13.0, 9.0, 13.0);
    volta.lineTo(5.0, 13.0);
    painter.drawPath(volta);
    painter.setPen(Qt::NoPen);
    painter.setBrush(azul);
    const QPointF ponta[] = {{1.5, 6.0}, {6.5, 2.0}, {6.5, 10.0}};
    painter.drawPolygon(ponta, 3);
    painter.end();
    return QIcon(pixmap);
}

QToolButton* criarBotao(QWidget* parent, const char* nome, const QString& dica, const QIcon& icone,
                        int x) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(nome));
    button->setAutoRaise(true); // flat until the mouse is over it
    button->setFocusPolicy(Qt::NoFocus);
    button->setToolTip(dica);
    button->setIcon(icone);
    button->setIconSize(QSize(kLadoIcone, kLadoIcone));
    button->setGeometry(x, kTopoBotoes, kLarguraBotao, kAlturaBotao);
    return button;
}

} // namespace

TformParametrosBase::TformParametrosBase(const LayoutParametros& layout, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_layout(layout), m_caminhoIni(CaminhoIni()) {
    setObjectName(QString::fromLatin1(m_layout.nome));
    setWindowTitle(QStringLiteral("Parâmetros"));
    setFont(fonteJanela());
    setFixedSize(m_layout.largura, m_layout.altura);
    move(m_layout.esquerda, m_layout.topo);
    criarControles();
    definirOrdemTab();
}

void TformParametrosBase::criarControles() {
    const QFont negrito = fonteNegrito();
    lblTracer = criarRotulo(this, "lblTracer", QStringLiteral("Dispositivos:"), 8, 43, &negrito);
    cbTracer = criarLista(this, "cbTracer", 83, 39, m_layout.larguraTracer);
    // The networked model is named by each edition.
    for (const TracerModel& tracer : kTracerModels)
        cbTracer->addItem(QString::fromUtf8(tracer.dialogName != nullptr ? tracer.dialogName
                                                                         : m_layout.modeloRede));
    cbTracer->setCurrentIndex(-1);
    btnConfirmar = criarBotao(this, "btnConfirmar", QStringLiteral("Confirmar"), iconeConfirmar(),
                              m_layout.esquerdaConfirmar);
    btnCancelar = criarBotao(this, "btnCancelar", QStringLiteral("Desfazer alterações"),
                             iconeDesfazer(), m_layout.esquerdaCancelar);
    criarGrupo();
    if (m_layout.caminhoEMensagem) {
        editCaminho = criarEdicao(this, "editCaminho", 63, 191, 194);
        lblCaminho = criarRotuloAEsquerda(this, "lblCaminho", QStringLiteral("Caminho:"),
                                          editCaminho, &negrito);
        checkMsgSucesso = new QCheckBox(QStringLiteral("Não exibir mensagem de sucesso"), this);
        checkMsgSucesso->setObjectName(QStringLiteral("checkMsgSucesso"));
        checkMsgSucesso->setFont(negrito);
        // 213 pixels wide as designed, wider where the system's font would cut the text.
        checkMsgSucesso->setGeometry(25, 222, std::max(213, checkMsgSucesso->sizeHint().width()),
                                     16);
    }
    connect(cbTracer, &QComboBox::currentIndexChanged, this, &TformParametrosBase::cbTracerChange);
    connect(btnConfirmar, &QToolButton::clicked, this, &TformParametrosBase::btnConfirmarClick);
    connect(btnCancelar, &QToolButton::clicked, this, &TformParametrosBase::btnCancelarClick);
}

// The port controls use the group's bold font, except the text typed into
// the TCP edit.
void TformParametrosBase::criarGrupo() {
    GroupBox1 = new QGroupBox(QStringLiteral("Portas"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setFont(fonteNegrito());
    GroupBox1->setGeometry(8, kTopoGrupo, m_layout.larguraGrupo, kAlturaGrupo);
    editPortaTCP =
        criarEdicao(GroupBox1, "editPortaTCP", kEsquerdaNoGrupo, 25, m_layout.larguraNoGrupo);
    // The weight must be set explicitly, or the edit inherits the group's bold.
    QFont regular = fonteJanela();
    regular.setBold(false);
    editPortaTCP->setFont(regular);
    lblPortaTCP =
        criarRotuloAEsquerda(GroupBox1, "lblPortaTCP", QStringLiteral("TCP:"), editPortaTCP);
    lblPorta = criarRotulo(GroupBox1, "lblPorta", QStringLiteral("Serial:"),
                           m_layout.esquerdaLblPorta, 56);
    cbPortaSerial =
        criarLista(GroupBox1, "cbPortaSerial", kEsquerdaNoGrupo, 52, m_layout.larguraNoGrupo);
    lblBaudRate = criarRotulo(GroupBox1, "lblBaudRate", QStringLiteral("Baud Rate:"), 6, 82);
    cbBaudRate = criarLista(GroupBox1, "cbBaudRate", kEsquerdaNoGrupo, 78, m_layout.larguraNoGrupo);
    for (const char* baud : kTracerBaudRates)
        cbBaudRate->addItem(QString::fromLatin1(baud));
    cbBaudRate->setCurrentIndex(-1);
}

// cbTracer, the group (TCP, serial port, baud rate), the path, the check box;
// the flat buttons take no focus.
void TformParametrosBase::definirOrdemTab() {
    setTabOrder(cbTracer, editPortaTCP);
    setTabOrder(editPortaTCP, cbPortaSerial);
    setTabOrder(cbPortaSerial, cbBaudRate);
    if (editCaminho != nullptr) {
        setTabOrder(cbBaudRate, editCaminho);
        setTabOrder(editCaminho, checkMsgSucesso);
    }
}

void TformParametrosBase::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Only when the program shows the dialog, not when the desktop restores it.
    if (!event->spontaneous())
        FormShow();
}

void TformParametrosBase::listarPortas() {
    int count = 0;
    if (!ListSerialPorts(m_portas, count))
        count = 0;
    m_numeroPortas = std::clamp(count, 0, kPortListSlots);
}

void TformParametrosBase::FormShow() {
    listarPortas();
    cbPortaSerial->clear();
    for (int i = 0; i < m_numeroPortas; ++i)
        cbPortaSerial->addItem(QString::fromUtf8(m_portas[i]));
    // A missing or invalid file is replaced by the defaults, with its messages.
    static_cast<void>(LerParametros(m_parametros, m_caminhoIni, userInterface(), m_layout.edicao));
    btnCancelarClick();
}

void TformParametrosBase::btnCancelarClick() {
    const int modelo = m_parametros.modeloTracer;
    cbTracer->setCurrentIndex(tracerModel(modelo) != nullptr ? modelo : -1);
    editPortaTCP->setText(m_parametros.portaTcp == 0 ? QString()
                                                     : QString::number(m_parametros.portaTcp));
    // The port may have gone away since the show; the items stay as listed then.
    // Ports may also have come or gone before it in the list, so the item is
    // found by its name: the index in the fresh list could name another port.
    listarPortas();
    const QString configurada = QString::fromUtf8(m_parametros.portaSerial.c_str());
    const bool listada =
        FindInList(m_parametros.portaSerial.c_str(), m_portas, m_numeroPortas) >= 0;
    // A configured port that is not present now (the adapter unplugged) stays
    // in the list, marked, so that the other settings can still be confirmed.
    for (int i = cbPortaSerial->count() - 1; i >= 0; --i)
        if (cbPortaSerial->itemData(i).isValid())
            cbPortaSerial->removeItem(i);
    int indice =
        listada ? cbPortaSerial->findText(configurada, Qt::MatchExactly | Qt::MatchCaseSensitive)
                : -1;
    if (indice < 0 && !configurada.isEmpty()) {
        cbPortaSerial->addItem(configurada + QString::fromUtf8(kMarcaAusente), configurada);
        indice = cbPortaSerial->count() - 1;
    }
    cbPortaSerial->setCurrentIndex(indice);
    // The list opens wide enough to read a long /dev/serial/by-id/... name whole.
    int largura = cbPortaSerial->width();
    for (int i = 0; i < cbPortaSerial->count(); ++i)
        largura = std::max(
            largura, cbPortaSerial->fontMetrics().horizontalAdvance(cbPortaSerial->itemText(i)) +
                         kFolgaDaLista);
    cbPortaSerial->view()->setMinimumWidth(largura);
    cbBaudRate->setCurrentIndex(tracerBaudRateIndex(m_parametros.baudRate.c_str()));
    if (editCaminho != nullptr)
        editCaminho->setText(QString::fromStdString(m_parametros.caminhoLeitura));
    if (checkMsgSucesso != nullptr)
        checkMsgSucesso->setChecked(m_parametros.noMsg);
    cbTracerChange();
}

void TformParametrosBase::cbTracerChange() {
    const int modelo = cbTracer->currentIndex();
    const bool serial = modeloSerial(modelo);
    cbPortaSerial->setEnabled(serial);
    cbBaudRate->setEnabled(serial);
    editPortaTCP->setEnabled(modeloRede(modelo));
    lblPortaTCP->setEnabled(modeloRede(modelo)); // the edit's label goes with it
}

bool TformParametrosBase::confirmarSerial() {
    if (cbPortaSerial->currentIndex() < 0) {
        MostrarMensagem(QString::fromUtf8(kMensagemPortaSerial));
        return false;
    }
    // An absent port's item carries its path beside the marked text.
    const QVariant ausente = cbPortaSerial->currentData();
    m_parametros.portaSerial =
        (ausente.isValid() ? ausente.toString() : cbPortaSerial->currentText()).toStdString();
    if (cbBaudRate->currentIndex() < 0) {
        MostrarMensagem(QString::fromUtf8(kMensagemBaudRate));
        return false;
    }
    m_parametros.baudRate = cbBaudRate->currentText().toStdString();
    return true;
}

bool TformParametrosBase::confirmarTcp() {
    int porta = 0;
    if (!parseConfigInteger(editPortaTCP->text().toStdString(), porta)) {
        MostrarMensagem(QString::fromUtf8(kMensagemTcpNumero));
        return false;
    }
    if (porta < kPortaTcpMinima || porta > kPortaTcpMaxima) {
        MostrarMensagem(QString::fromUtf8(kMensagemTcpFaixa));
        return false;
    }
    m_parametros.portaTcp = porta;
    return true;
}

// A reading folder that is missing or that the user cannot write would be
// found out only at the next reading; an empty one is the user's home folder.
bool TformParametrosBase::confirmarCaminho(const std::string& caminho) {
    if (caminho.empty())
        return true;
    switch (checkReadingFolder(caminho)) {
    case kFolderMissing:
        MostrarMensagem(QString::fromUtf8(kMensagemCaminhoAusente));
        return false;
    case kFolderNotWritable:
        MostrarMensagem(QString::fromUtf8(kMensagemCaminhoSemAcesso));
        return false;
    case kFolderUsable:
        break;
    }
    return true;
}

// Each field passes into the working copy as soon as its check passes, so a
// later failure leaves the earlier fields changed in the copy (not the file).
void TformParametrosBase::btnConfirmarClick() {
    const int modelo = cbTracer->currentIndex();
    if (modelo < 0) {
        MostrarMensagem(QString::fromUtf8(kMensagemTracer));
        return;
    }
    m_parametros.modeloTracer = modelo;
    if (modeloSerial(modelo) && !confirmarSerial())
        return;
    if (modeloRede(modelo) && !confirmarTcp())
        return;
    if (editCaminho != nullptr) {
        const std::string caminho = editCaminho->text().toStdString();
        if (!confirmarCaminho(caminho))
            return;
        m_parametros.caminhoLeitura = caminho;
    }
    if (checkMsgSucesso != nullptr)
        m_parametros.noMsg = checkMsgSucesso->isChecked();
    // A write failure has shown its message; the dialog closes all the same.
    static_cast<void>(
        GravarParametros(m_parametros, m_caminhoIni, userInterface(), m_layout.edicao));
    accept();
}

TformParametrosKRVW::TformParametrosKRVW(QWidget* parent)
    : TformParametrosBase(kLayoutKRVW, parent) {}
