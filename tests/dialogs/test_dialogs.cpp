// The parameters dialogs (both editions) and the about dialogs: what they show
// from the configuration file, each check of "Confirmar" with its message, what
// they write, and their layout.
#include "Layout.h"
#include "Parametroskrve.h"
#include "Parametroskrvw.h"
#include "Sobrekrve.h"
#include "Sobrekrvw.h"

#include "Mensagem.h"
#include "ptypair.h"
#include "testsupport.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <memory>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kTracerInvalido = "Valor de Tracer inválido. Verifique.";
const char* const kPortaSerialInvalida = "Porta Serial inválida. Verifique.";
const char* const kBaudRateInvalido = "Baud Rate inválido. Verifique.";
const char* const kTcpNaoNumero = "Porta TCP deve ser um número. Verifique.";
const char* const kTcpForaDaFaixa = "Porta TCP deve ser um número entre 1 e 65535. Verifique.";
const char* const kCaminhoAusente = "Caminho inválido: a pasta não existe. Verifique.";
const char* const kNaoGravado =
    "Não foi possível gravar os Parâmetros. Por favor, verifique se possui acesso ao diretório.";

// A port name no system has.
const char* const kPortaAusente = "/dev/ttyKRVWAUSENTE";

// The configuration file's lines, as the configuration module writes them.
std::string arquivoErp(int modelo, int tcp, const std::string& porta, const std::string& baud) {
    return "MODELOTRACER=" + std::to_string(modelo) + "\r\nPORTATCP=" + std::to_string(tcp) +
           "\r\nPORTASERIAL=" + porta + "\r\nBAUDRATE=" + baud + "\r\n";
}
std::string arquivoWeb(int modelo, int tcp, const std::string& porta, const std::string& baud,
                       const std::string& caminho = "", bool noMsg = false) {
    return arquivoErp(modelo, tcp, porta, baud) + "CAMINHOLEITURA=" + caminho +
           "\r\nNOMSG=" + (noMsg ? "1" : "0") + "\r\n";
}

// The dialog's controls, found by name; the last two are null in the ERP edition.
struct Controles {
    QComboBox* tracer = nullptr;
    QLineEdit* tcp = nullptr;
    QComboBox* porta = nullptr;
    QComboBox* baud = nullptr;
    QToolButton* confirmar = nullptr;
    QToolButton* cancelar = nullptr;
    QLineEdit* caminho = nullptr;
    QCheckBox* msg = nullptr;

    explicit Controles(QWidget& d)
        : tracer(d.findChild<QComboBox*>(QStringLiteral("cbTracer"))),
          tcp(d.findChild<QLineEdit*>(QStringLiteral("editPortaTCP"))),
          porta(d.findChild<QComboBox*>(QStringLiteral("cbPortaSerial"))),
          baud(d.findChild<QComboBox*>(QStringLiteral("cbBaudRate"))),
          confirmar(d.findChild<QToolButton*>(QStringLiteral("btnConfirmar"))),
          cancelar(d.findChild<QToolButton*>(QStringLiteral("btnCancelar"))),
          caminho(d.findChild<QLineEdit*>(QStringLiteral("editCaminho"))),
          msg(d.findChild<QCheckBox*>(QStringLiteral("checkMsgSucesso"))) {}
    bool comuns() const { return tracer && tcp && porta && baud && confirmar && cancelar; }
    bool web() const { return comuns() && caminho && msg; }
};

// The names of the controls Tab visits, in order, from the dialog itself.
QStringList ordemTab(QWidget& dialogo) {
    QStringList nomes;
    for (QWidget* w = dialogo.nextInFocusChain(); w != &dialogo && nomes.size() < 50;
         w = w->nextInFocusChain())
        if (w->window() == &dialogo && (w->focusPolicy() & Qt::TabFocus) && !w->isHidden())
            nomes << w->objectName();
    return nomes;
}

} // namespace

class TestDialogos : public QObject {
    Q_OBJECT

private:
    QStringList m_mensagens;
    std::unique_ptr<ScratchDir> m_dir;

    std::string ini() const { return m_dir->file("ini/krvw.ini"); }
    std::string dados() const { return m_dir->file("dados"); } // a reading folder
    void gravar(const std::string& conteudo) const { writeFileBytes(ini(), conteudo); }
    std::string lido() const { return readFileBytes(ini()); }
    void exibir(TformParametrosBase& dialogo) {
        dialogo.setCaminhoIni(ini());
        dialogo.show(); // the show reads the file before returning
    }
    template <std::size_t N>
    static void verificarLugares(QWidget& raiz, const Placement (&lugares)[N]) {
        for (const Placement& l : lugares)
            verificarLugar(raiz, l);
    }
    static void verificarLugar(QWidget& raiz, const Placement& l);
    static void verificarSobre(QDialog& dialogo, QSize cliente, const QString& titulo,
                               QPoint versao, QPoint empresa);

private slots:
    void init() {
        m_mensagens.clear();
        setMessageFunctionForTesting([this](const QString& text) { m_mensagens << text; });
        m_dir = std::make_unique<ScratchDir>();
        QVERIFY(mkdir(m_dir->file("ini").c_str(), 0700) == 0);
        QVERIFY(mkdir(dados().c_str(), 0700) == 0);
    }
    void cleanup() {
        m_dir.reset();
        setMessageFunctionForTesting(nullptr);
    }

    void primeiraExibicaoEscreveOsPadroes();
    void habilitacaoPorModelo_data();
    void habilitacaoPorModelo();
    void modeloForaDaListaPedeTracer();
    void portaTcp_data();
    void portaTcp();
    void caminhoAusentePedeCaminho();
    void portaNaoListadaPedePorta();
    void portaListadaEBaudRate();
    void portaNovaAntesDaConfiguradaNaoMudaAEscolha();
    void modeloSerialMantemPortaTcp();
    void modeloRedeMantemPortaSerial();
    void falhaDeixaCamposNaCopia();
    void fecharNaoGrava();
    void gravacaoFalhaFechaMesmoAssim();
    void execDevolveAceito();
    void edicaoErp();
    void geometriaKRVW();
    void geometriaKRVE();
    void fontesDicasEOrdemTab();
    void sobre();
};

void TestDialogos::primeiraExibicaoEscreveOsPadroes() {
    TformParametrosKRVW dialogo;
    Controles c(dialogo);
    QVERIFY(c.web());
    exibir(dialogo);
    QCOMPARE(lido(), arquivoWeb(1, 55555, "", "9600"));
    QVERIFY(m_mensagens.isEmpty());
    const QStringList modelos = {
        "NIDEK LT980",       "NIDEK LT1000/LT1200",       "Huvitz", "TopCom", "Essilor",
        "Takubomatic FD-80", "NIDEK LT1000/LT1200 Serial"};
    QCOMPARE(c.tracer->count(), static_cast<int>(modelos.size()));
    for (int i = 0; i < modelos.size(); ++i)
        QCOMPARE(c.tracer->itemText(i), modelos[i]);
    QCOMPARE(c.tracer->currentIndex(), 1);
    QCOMPARE(c.tcp->text(), QStringLiteral("55555"));
    QCOMPARE(c.porta->currentIndex(), -1);
    QCOMPARE(c.baud->currentText(), QStringLiteral("9600"));
    QCOMPARE(c.baud->count(), 3);
    QCOMPARE(c.baud->itemText(1), QStringLiteral("19200"));
    QCOMPARE(c.baud->itemText(2), QStringLiteral("38400"));
    QCOMPARE(c.caminho->text(), QString());
    QVERIFY(!c.msg->isChecked());
    QVERIFY(c.tcp->isEnabled());
    QVERIFY(!c.porta->isEnabled());
    QVERIFY(!c.baud->isEnabled());
    QVERIFY(dialogo.isVisible());
}

void TestDialogos::habilitacaoPorModelo_data() {
    QTest::addColumn<int>("modelo");
    QTest::addColumn<bool>("serial");
    QTest::addColumn<bool>("rede");
    QTest::newRow("nenhum") << -1 << false << false;
    QTest::newRow("LT980") << 0 << true << false;
    QTest::newRow("rede") << 1 << false << true;
    QTest::newRow("Huvitz") << 2 << true << false;
    QTest::newRow("TopCom") << 3 << true << false;
    QTest::newRow("Essilor") << 4 << true << false;
    QTest::newRow("Takubomatic") << 5 << true << false;
    QTest::newRow("LT1000 serial") << 6 << true << false;
}

void TestDialogos::habilitacaoPorModelo() {
    QFETCH(int, modelo);
    QFETCH(bool, serial);
    QFETCH(bool, rede);
    gravar(arquivoWeb(modelo == 1 ? 0 : 1, 4321, kPortaAusente, "38400", dados()));
    TformParametrosKRVW dialogo;
    Controles c(dialogo);
    QVERIFY(c.web());
    exibir(dialogo);
    c.tracer->setCurrentIndex(modelo); // as the user's choice: cbTracerChange runs
    QCOMPARE(c.porta->isEnabled(), serial);
    QCOMPARE(c.baud->isEnabled(), serial);
    QCOMPARE(c.tcp->isEnabled(), rede);
    QVERIFY(c.caminho->isEnabled());
    QVERIFY(c.msg->isEnabled());
    // Disabled controls keep what they show.
    QCOMPARE(c.tcp->text(), QStringLiteral("4321"));
    QCOMPARE(c.baud->currentText(), QStringLiteral("38400"));
}

void TestDialogos::modeloForaDaListaPedeTracer() {
    const std::string arquivo = arquivoWeb(9, 55555, kPortaAusente, "9600");
    gravar(arquivo);
    TformParametrosKRVW dialogo;
    Controles c(dialogo);
    QVERIFY(c.web());
    exibir(dialogo);
    QCOMPARE(c.tracer->currentIndex(), -1);
    QVERIFY(!c.tcp->isEnabled());
    QVERIFY(!c.porta->isEnabled());
    QVERIFY(!c.baud->isEnabled());
    c.confirmar->click();
    QCOMPARE(m_mensagens, QStringList{QString::fromUtf8(kTracerInvalido)});
    QVERIFY(dialogo.isVisible());
    QVERIFY(dialogo.result() != QDialog::Accepted);
    QCOMPARE(lido(), arquivo);
}

void TestDialogos::portaTcp_data() {
    QTest::addColumn<QString>("texto");
    QTest::addColumn<QString>("mensagem"); // empty: accepted
    const QString numero = QString::fromUtf8(kTcpNaoNumero);
    const QString faixa = QString::fromUtf8(kTcpForaDaFaixa);
    QTest::newRow("letras") << "abc" << numero;
    QTest::newRow("vazio") << "" << numero;
    QTest::newRow("espaco antes") << " 80" << numero;
    QTest::newRow("numero e letra") << "80a" << numero;
    QTest::newRow("zero") << "0" << faixa;
    QTest::newRow("negativo") << "-1" << faixa;
    QTest::newRow("acima") << "65536" << faixa;
    QTest::newRow("menor") << "1" << QString();
    QTest::newRow("maior") << "65535" << QString();
    QTest::newRow("com sinal") << "+8080" << QString();
}

void TestDialogos::portaTcp() {
    QFETCH(QString, texto);
    QFETCH(QString, mensagem);
    const std::string arquivo = arquivoWeb(1, 55555, kPortaAusente, "19200", dados(), true);
    gravar(arquivo);
    TformParametrosKRVW dialogo;
    Controles c(dialogo);
    QVERIFY(c.web());
    exibir(dialogo);
    c.tcp->setText(texto);
    c.confirmar->click();
    if (!mensagem.isEmpty()) {
        QCOMPARE(m_mensagens, QStringList{mensagem});
        QVERIFY(dialogo.isVisible());
        QVERIFY(dialogo.result() != QDialog::Accepted);
        QCOMPARE(lido(), arquivo);
        return;
    }
    QVERIFY(m_mensagens.isEmpty());
    QVERIFY(!dialogo.isVisible());
    QCOMPARE(dialogo.result(), int(QDialog::Accepted));
    int porta = 0;
    QVERIFY(parseConfigInteger(texto.toStdString(), porta));
    QCOMPARE(lido(), arquivoWeb(1, porta, kPortaAusente, "19200", dados(), true));
}

// A reading folder that does not exist is found at the confirm, not at the
// next reading.
void TestDialogos::caminhoAusentePedeCaminho() {
    const std::string arquivo = arquivoWeb(1, 55555, kPortaAusente, "19200", dados());
    gravar(arquivo);
    TformParametrosKRVW dialogo;
    Controles c(dialogo);
    QVERIFY(c.web());
    exibir(dialogo);
    c.caminho->setText(QString::fromStdString(m_dir->file("leituras-com-erro")));
    c.confirmar->click();
    QCOMPARE(m_mensagens, QStringList{QString::fromUtf8(kCaminhoAusente)});
    QVERIFY(dialogo.isVisible());
    QCOMPARE(lido(), arquivo);
}

// A configured port that is not on the system (the adapter unplugged) stays
// selected, marked absent, so the other settings can be confirmed; the list
// opens wide enough to read it whole.
void TestDialogos::portaNaoListadaPedePorta() {
    gravar(arquivoWeb(2, 55555, kPortaAusente, "19200"));
    TformParametrosKRVW dialogo;
    Controles c(dialogo);
    QVERIFY(c.web());
    exibir(dialogo);
    QCOMPARE(c.tracer->currentIndex(), 2);
    const QString marcada = QString::fromLatin1(kPortaAusente) + QStringLiteral(" (ausente)");
    QCOMPARE(c.porta->currentText(), marcada);
    QVERIFY(c.porta->view()->minimumWidth() > c.porta->fontMetrics().horizontalAdvance(marcada));
    c.baud->setCurrentIndex(2);
    c.confirmar->click();
    QVERIFY(m_mensagens.isEmpty());
    QCOMPARE(lido(), arquivoWeb(2, 55555, kPortaAusente, "38400"));
}

// "Cancelar" lists the ports again: one that appeared since the show and sorts
// before the configured port must not move the choice onto another port.
void TestDialogos::portaNovaAntesDaConfiguradaNaoMudaAEscolha() {
    ListedPort configurada("ttyKRVWTESTB");
    QVERIFY(configurada.ok());
    gravar(arquivoWeb(2, 4321, configurada.path(), "9600", "/antes"));
    TformParametrosKRVW dialogo;
    Controles c(dialogo);
    QVERIFY(c.web());
    exibir(dialogo);
    const QString nome = QString::fromStdString(configurada.path());
    QCOMPARE(c.porta->currentText(), nome);
    ListedPort nova("ttyKRVWTESTA");
    QVERIFY(nova.ok());
    c.cancelar->click();
    QCOMPARE(c.porta->currentText(), nome);
}

void TestDialogos::portaListadaEBaudRate() {
    ListedPort port;
    QVERIFY(port.ok());
    const std::string arquivo = arquivoWeb(4, 4321, port.path(), "1200", "/antes");
    gravar(arquivo);
    TformParametrosKRVW dialogo;
    Controles c(dialogo);
    QVERIFY(c.web());
    exibir(dialogo);
    const QString nome = QString::fromStdString(port.path());
    QVERIFY(c.porta->findText(nome) >= 0);
    QCOMPARE(c.porta->currentText(), nome);
    QCOMPARE(c.baud->currentIndex(), -1); // 1200 is not one of the three
    c.confirmar->click();
    QCOMPARE(m_mensagens, QStringList{QString::fromUtf8(kBaudRateInvalido)});
    QVERIFY(dialogo.isVisible());
    QCOMPARE(lido(), arquivo);

    m_mensagens.clear();
    c.baud->setCurrentIndex(c.baud->findText(QStringLiteral("38400")));
    const std::string comEspaco = m_dir->file("leituras ");
    QVERIFY(mkdir(comEspaco.c_str(), 0700) == 0);
    c.caminho->setText(QString::fromStdString(comEspaco)); // written as typed
    c.msg->setChecked(true);
    c.confirmar->click();
    QVERIFY(m_mensagens.isEmpty());
    QCOMPARE(dialogo.result(), int(QDialog::Accepted));
    QVERIFY(!dialogo.isVisible());
    QCOMPARE(lido(), arquivoWeb(4, 4321, port.path(), "38400", comEspaco, true));
}

// A serial model writes the TCP port that was loaded, whatever the TCP field holds.
void TestDialogos::modeloSerialMantemPortaTcp() {
    ListedPort port;
    QVERIFY(port.ok());
    gravar(arquivoWeb(1, 4321, port.path(), "9600"));
    TformParametrosKRVW dialogo;
    Controles c(dialogo);
    QVERIFY(c.web());
    exibir(dialogo);
    QCOMPARE(c.porta->currentText(), QString::fromStdString(port.path()));
    c.tcp->setText(QStringLiteral("8080"));
    c.tracer->setCurrentIndex(3);
    c.confirmar->click();
    QVERIFY(m_mensagens.isEmpty());
    QCOMPARE(dialogo.result(), int(QDialog::Accepted));
    QCOMPARE(lido(), arquivoWeb(3, 4321, port.path(), "9600"));
}

// Model 1 writes the serial port and baud rate that were loaded; a TCP port of
// 0 shows as an empty field.
void TestDialogos::modeloRedeMantemPortaSerial() {
    gravar(arquivoWeb(0, 0, kPortaAusente, "38400", dados()));
    TformParametrosKRVW dialogo;
    Controles c(dialogo);
    QVERIFY(c.web());
    exibir(dialogo);
    QCOMPARE(c.tcp->text(), QString());
    QVERIFY(!c.tcp->isEnabled());
    c.tracer->setCurrentIndex(1);
    QVERIFY(c.tcp->isEnabled());
    c.tcp->setText(QStringLiteral("8080"));
    c.confirmar->click();
    QVERIFY(m_mensagens.isEmpty());
    QCOMPARE(dialogo.result(), int(QDialog::Accepted));
    QCOMPARE(lido(), arquivoWeb(1, 8080, kPortaAusente, "38400", dados()));
}

// A failed check leaves the fields set before it in the working copy, which
// the undo button shows; the next show reloads the file.
void TestDialogos::falhaDeixaCamposNaCopia() {
    const std::string arquivo = arquivoWeb(1, 7000, "", "19200", dados(), true);
    gravar(arquivo);
    TformParametrosKRVW dialogo;
    Controles c(dialogo);
    QVERIFY(c.web());
    exibir(dialogo);
    c.tracer->setCurrentIndex(5);
    c.tcp->setText(QStringLiteral("1"));
    c.caminho->setText(QStringLiteral("/outro"));
    c.msg->setChecked(false);
    c.confirmar->click();
    QCOMPARE(m_mensagens, QStringList{QString::fromUtf8(kPortaSerialInvalida)});
    c.cancelar->click();
    QCOMPARE(c.tracer->currentIndex(), 5); // taken before the port check failed
    QVERIFY(!c.tcp->isEnabled());
    QVERIFY(c.porta->isEnabled());
    QCOMPARE(c.tcp->text(), QStringLiteral("7000"));
    QCOMPARE(c.baud->currentText(), QStringLiteral("19200"));
    QCOMPARE(c.caminho->text(), QString::fromStdString(dados()));
    QVERIFY(c.msg->isChecked());
    QCOMPARE(lido(), arquivo);

    dialogo.reject();
    dialogo.show();
    QCOMPARE(c.tracer->currentIndex(), 1);
    QVERIFY(c.tcp->isEnabled());
    QVERIFY(!c.porta->isEnabled());
}

void TestDialogos::fecharNaoGrava() {
    // Written by hand in another order: any rewrite would show.
    const std::string arquivo =
        "NOMSG=1\r\nPORTATCP=2000\r\nMODELOTRACER=1\r\nBAUDRATE=9600\r\nPORTASERIAL=\r\n"
        "CAMINHOLEITURA=/dados\r\n";
    gravar(arquivo);
    TformParametrosKRVW dialogo;
    Controles c(dialogo);
    QVERIFY(c.web());
    exibir(dialogo);
    QCOMPARE(c.tcp->text(), QStringLiteral("2000"));
    QVERIFY(c.msg->isChecked());
    c.tcp->setText(QStringLiteral("3000"));
    c.caminho->setText(QStringLiteral("/outro"));
    QVERIFY(dialogo.close());
    QCOMPARE(dialogo.result(), int(QDialog::Rejected));
    QVERIFY(m_mensagens.isEmpty());
    QCOMPARE(lido(), arquivo);
    // What was typed does not survive the close.
    dialogo.show();
    QCOMPARE(c.tcp->text(), QStringLiteral("2000"));
    QCOMPARE(c.caminho->text(), QStringLiteral("/dados"));
}

void TestDialogos::gravacaoFalhaFechaMesmoAssim() {
    TformParametrosKRVW dialogo;
    Controles c(dialogo);
    QVERIFY(c.web());
    exibir(dialogo);
    QVERIFY(fileExists(ini()));
    std::filesystem::remove_all(m_dir->file("ini"));
    c.tcp->setText(QStringLiteral("8080"));
    c.confirmar->click();
    QCOMPARE(m_mensagens, QStringList{QString::fromUtf8(kNaoGravado)});
    QCOMPARE(dialogo.result(), int(QDialog::Accepted));
    QVERIFY(!dialogo.isVisible());
    QVERIFY(!fileExists(ini()));
}

// As the main window runs it: modal, returning 1 after "Confirmar".
void TestDialogos::execDevolveAceito() {
    gravar(arquivoWeb(1, 55555, "", "9600"));
    TformParametrosKRVW dialogo;
    Controles c(dialogo);
    QVERIFY(c.web());
    dialogo.setCaminhoIni(ini());
    QTimer::singleShot(0, &dialogo, [&] {
        c.tcp->setText(QStringLiteral("1234"));
        c.confirmar->click();
    });
    // A way out should "Confirmar" leave the dialog open.
    QTimer::singleShot(20000, &dialogo, [&] { dialogo.reject(); });
    QCOMPARE(dialogo.exec(), int(QDialog::Accepted));
    QVERIFY(m_mensagens.isEmpty());
    QCOMPARE(lido(), arquivoWeb(1, 1234, "", "9600"));
}

void TestDialogos::edicaoErp() {
    TformParametrosKRVE dialogo;
    Controles c(dialogo);
    QVERIFY(c.comuns());
    QVERIFY(c.caminho == nullptr);
    QVERIFY(c.msg == nullptr);
    QVERIFY(dialogo.findChild<QLabel*>(QStringLiteral("lblCaminho")) == nullptr);
    QCOMPARE(c.tracer->count(), 7);
    QCOMPARE(c.tracer->itemText(1), QStringLiteral("NIDEK LT1000/LT1200/ICE"));
    QCOMPARE(c.tracer->itemText(6), QStringLiteral("NIDEK LT1000/LT1200 Serial"));
    exibir(dialogo);
    QCOMPARE(lido(), arquivoErp(1, 55555, "", "9600"));
    QCOMPARE(c.tracer->currentIndex(), 1);
    QCOMPARE(c.tcp->text(), QStringLiteral("55555"));
    c.tcp->setText(QStringLiteral("65536"));
    c.confirmar->click();
    QCOMPARE(m_mensagens, QStringList{QString::fromUtf8(kTcpForaDaFaixa)});
    m_mensagens.clear();
    c.tcp->setText(QStringLiteral("1234"));
    c.confirmar->click();
    QVERIFY(m_mensagens.isEmpty());
    QCOMPARE(dialogo.result(), int(QDialog::Accepted));
    QCOMPARE(lido(), arquivoErp(1, 1234, "", "9600"));

    // A WEB edition's file is read for its first four lines and written back as four.
    gravar(arquivoWeb(1, 2000, kPortaAusente, "38400", dados(), true));
    dialogo.show();
    QVERIFY(m_mensagens.isEmpty());
    QCOMPARE(c.tcp->text(), QStringLiteral("2000"));
    c.confirmar->click();
    QCOMPARE(lido(), arquivoErp(1, 2000, kPortaAusente, "38400"));
}

void TestDialogos::verificarLugar(QWidget& raiz, const Placement& l) {
    auto* w = raiz.findChild<QWidget*>(QString::fromLatin1(l.name));
    QVERIFY2(w != nullptr, l.name);
    const QRect g = w->geometry();
    QVERIFY2(g.topLeft() == QPoint(l.x, l.y), l.name);
    QVERIFY2(l.width < 0 || g.width() == l.width, l.name);
    QVERIFY2(l.height < 0 || g.height() == l.height, l.name);
}

void TestDialogos::geometriaKRVW() {
    TformParametrosKRVW dialogo;
    QCOMPARE(dialogo.windowTitle(), QStringLiteral("Parâmetros"));
    QCOMPARE(dialogo.pos(), QPoint(547, 112));
    exibir(dialogo);
    QCOMPARE(dialogo.size(), QSize(265, 245));
    QCOMPARE(dialogo.minimumSize(), dialogo.maximumSize());
    const Qt::WindowFlags flags = dialogo.windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    verificarLugares(dialogo, kLayoutParametrosKRVW);
    // At least as wide as designed, and never so narrow that its text is cut.
    auto* check = dialogo.findChild<QCheckBox*>(QStringLiteral("checkMsgSucesso"));
    QVERIFY(check->width() >= 213);
    QVERIFY(check->width() >= check->sizeHint().width());
    auto* grupo = dialogo.findChild<QGroupBox*>(QStringLiteral("GroupBox1"));
    QVERIFY(grupo != nullptr);
    QCOMPARE(dialogo.findChild<QWidget*>(QStringLiteral("cbPortaSerial"))->parentWidget(),
             static_cast<QWidget*>(grupo));
    // The edits' labels end 3 pixels left of their edits.
    auto* tcp = grupo->findChild<QLabel*>(QStringLiteral("lblPortaTCP"));
    auto* caminho = dialogo.findChild<QLabel*>(QStringLiteral("lblCaminho"));
    QVERIFY(tcp != nullptr && caminho != nullptr);
    QCOMPARE(tcp->parentWidget(), static_cast<QWidget*>(grupo));
    QCOMPARE(tcp->x() + tcp->width(), 72 - 3);
    QCOMPARE(caminho->x() + caminho->width(), 63 - 3);
    QCOMPARE(tcp->text(), QStringLiteral("TCP:"));
    QCOMPARE(caminho->text(), QStringLiteral("Caminho:"));
}

void TestDialogos::geometriaKRVE() {
    TformParametrosKRVE dialogo;
    QCOMPARE(dialogo.windowTitle(), QStringLiteral("Parâmetros"));
    QCOMPARE(dialogo.pos(), QPoint(220, 115));
    exibir(dialogo);
    QCOMPARE(dialogo.size(), QSize(269, 188));
    QCOMPARE(dialogo.minimumSize(), dialogo.maximumSize());
    verificarLugares(dialogo, kLayoutParametrosKRVE);
}

void TestDialogos::fontesDicasEOrdemTab() {
    TformParametrosKRVW dialogo;
    Controles c(dialogo);
    QVERIFY(c.web());
    exibir(dialogo);
    auto negrito = [&](const char* nome) {
        auto* w = dialogo.findChild<QWidget*>(QString::fromLatin1(nome));
        return w != nullptr && w->font().bold();
    };
    for (const char* nome : {"lblTracer", "GroupBox1", "lblPortaTCP", "lblPorta", "cbPortaSerial",
                             "lblBaudRate", "cbBaudRate", "lblCaminho", "checkMsgSucesso"})
        QVERIFY2(negrito(nome), nome);
    QVERIFY(!negrito("editPortaTCP"));
    QVERIFY(!negrito("cbTracer"));
    QVERIFY(!negrito("editCaminho"));
    QCOMPARE(c.tcp->font().pixelSize(), 11);

    QCOMPARE(c.confirmar->toolTip(), QStringLiteral("Confirmar"));
    QCOMPARE(c.cancelar->toolTip(), QStringLiteral("Desfazer alterações"));
    QVERIFY(c.confirmar->text().isEmpty());
    QVERIFY(c.cancelar->text().isEmpty());
    QVERIFY(c.confirmar->autoRaise());
    QVERIFY(!c.confirmar->icon().isNull());
    QVERIFY(!c.cancelar->icon().isNull());
    // Two different pictures.
    QVERIFY(c.confirmar->icon().pixmap(16, 16).toImage() !=
            c.cancelar->icon().pixmap(16, 16).toImage());

    const QStringList ordem = {"cbTracer",   "editPortaTCP", "cbPortaSerial",
                               "cbBaudRate", "editCaminho",  "checkMsgSucesso"};
    QCOMPARE(ordemTab(dialogo), ordem);
    TformParametrosKRVE erp;
    QCOMPARE(ordemTab(erp), ordem.mid(0, 4));
}

void TestDialogos::verificarSobre(QDialog& dialogo, QSize cliente, const QString& titulo,
                                  QPoint versao, QPoint empresa) {
    QCOMPARE(dialogo.windowTitle(), QStringLiteral("Sobre"));
    QCOMPARE(dialogo.pos(), QPoint(272, 150));
    dialogo.show();
    QCOMPARE(dialogo.size(), cliente);
    QCOMPARE(dialogo.minimumSize(), dialogo.maximumSize());
    QVERIFY(dialogo.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!dialogo.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    const Placement lugares[] = {
        {"Bevel1", 4, 4, 108, 66},
        {"Image1", 8, 8, 100, 58},
        {"Label1", 119, 11, -1, -1},
        {"Label3", versao.x(), versao.y(), -1, -1},
        {"Label2", empresa.x(), empresa.y(), -1, -1},
    };
    verificarLugares(dialogo, lugares);
    const QStringList textos = {titulo, QStringLiteral("Versão 1.6"),
                                QStringLiteral("Veltra Informática")};
    const char* const nomes[] = {"Label1", "Label3", "Label2"};
    for (int i = 0; i < 3; ++i) {
        auto* label = dialogo.findChild<QLabel*>(QString::fromLatin1(nomes[i]));
        QVERIFY2(label != nullptr, nomes[i]);
        QCOMPARE(label->text(), textos[i]);
        QVERIFY(label->font().bold());
        QCOMPARE(label->font().pixelSize(), 13);
    }
    auto* image = dialogo.findChild<QLabel*>(QStringLiteral("Image1"));
    QVERIFY(image != nullptr);
    const QImage logo = image->pixmap().toImage();
    QCOMPARE(logo.size(), QSize(100, 58));
    // A picture, not a plain fill: the lenses' outline differs from the corner.
    QVERIFY(logo.pixelColor(12, 18) != logo.pixelColor(0, 0));
}

void TestDialogos::sobre() {
    TformSobreKRVW web;
    verificarSobre(web, QSize(311, 74), QStringLiteral("Leitor de Tracer do GIRA WEB"),
                   QPoint(176, 28), QPoint(155, 50));
    TformSobreKRVE erp;
    verificarSobre(erp, QSize(307, 74), QStringLiteral("Leitor de Tracer do GIRA ERP"),
                   QPoint(175, 28), QPoint(155, 49));
}

QTEST_MAIN(TestDialogos)
#include "test_dialogs.moc"
