// Whole readings from every serial tracer model, through the main window as a
// user runs it: krvw-tracer-sim plays the tracer on a pseudo-terminal that the
// program lists as a serial port, the window reads it with its real protocol
// code and clock, and the reading file is deciphered (by OpenSSL, not by the
// program's cipher) and compared byte for byte with the expected text.
#include "Principal.h"

#include "Readingfile.h"
#include "caixas.h"
#include "janelateste.h"
#include "simulador.h"

#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QtTest>

#include <unistd.h>

namespace {

// A DCS reading takes a few timer ticks per record; a slow sanitizer build more.
constexpr int kReadingMs = 40000;

struct Caso {
    int modelo;
    const char* rotulos; // the tracing the simulator sends
    const char* esperado;
    const char* arquivo; // the reading file's name
};

} // namespace

class TestTracers : public QObject, public JanelaDeTeste {
    Q_OBJECT

private:
    QPushButton* botao(const char* nome) const {
        return m_janela->findChild<QPushButton*>(QString::fromLatin1(nome));
    }
    QString link() const {
        return QStringLiteral("/dev/ttyKRVWE2E%1").arg(static_cast<qint64>(getpid()));
    }
    // The window configured for `modelo` on the simulator's port, shown.
    void abrir(int modelo, const std::string& porta) {
        mostrar(configuracao(modelo, porta, 55555, leituras()));
        QVERIFY2(m_mensagens.isEmpty(), qPrintable(m_mensagens.join(QLatin1Char('|'))));
    }
    // Waits for the reading file, or for a message that says why there is none.
    void esperarLeitura(const std::string& caminho, Simulador& tracer) {
        QTRY_VERIFY_WITH_TIMEOUT(fileExists(caminho) || !m_mensagens.isEmpty(), kReadingMs);
        QVERIFY2(fileExists(caminho),
                 qPrintable(m_mensagens.join(QLatin1Char('|')) + QLatin1Char('\n') +
                            tracer.resultado(3000) + QLatin1Char('\n') + tracer.saida()));
    }

private slots:
    void init() { criarJanela(); }
    void cleanup() { destruirJanela(); }

    void leituraCompleta_data();
    void leituraCompleta();
    void lt980RecusaOBloco3();
    void takubomaticRespondeErrado();
    void dcsComLixoNaLinhaAindaLe();
    void dcsMeioRegistroExpiraELeOSeguinte();
    void caixaAbertaNaoParaODcs_data();
    void caixaAbertaNaoParaODcs();
};

void TestTracers::leituraCompleta_data() {
    QTest::addColumn<int>("modelo");
    QTest::addColumn<QString>("rotulos");
    QTest::addColumn<QString>("esperado");
    QTest::addColumn<QString>("arquivo");
    const Caso casos[] = {
        {0, "reading/realistic.labels", "lt980.expected", "leitura.krvw"},
        {2, "reading/realistic.labels", "huvitz.expected", "815.krvw"},
        {3, "reading/realistic.labels", "topcom.expected", "815.krvw"},
        {4, "reading/realistic.labels", "essilor.expected", "815.krvw"},
        {5, "serial/takubomatic.labels", "takubomatic.expected", "leitura.krvw"},
        {6, "reading/realistic.labels", "nidek-serial.expected", "815.krvw"},
    };
    for (const Caso& caso : casos)
        QTest::addRow("modelo %d", caso.modelo)
            << caso.modelo << QString::fromLatin1(caso.rotulos)
            << QString::fromLatin1(caso.esperado) << QString::fromLatin1(caso.arquivo);
}

void TestTracers::leituraCompleta() {
    QFETCH(int, modelo);
    QFETCH(QString, rotulos);
    QFETCH(QString, esperado);
    QFETCH(QString, arquivo);
    Simulador tracer;
    QVERIFY(tracer.iniciar(caminhoDoSimulador(),
                           {QStringLiteral("--model"), QString::number(modelo),
                            QStringLiteral("--link"), link(), QStringLiteral("--no-pace"),
                            QStringLiteral("--labels"),
                            QString::fromStdString(testDataPath(rotulos.toStdString()))},
                           true));
    if (tracer.porta.empty())
        QSKIP("a listed serial port needs a link under /dev: root only");
    abrir(modelo, tracer.porta);
    if (modelo == 0 || modelo == 4 || modelo == 5)
        QTest::mouseClick(botao("btnLeituraSerial"), Qt::LeftButton);

    const std::string caminho = leituras() + "/" + arquivo.toStdString();
    esperarLeitura(caminho, tracer);
    QCOMPARE(tracer.resultado(kReadingMs), QStringLiteral("RESULT OK readings=1"));
    compararLeitura(arquivo.toStdString(), esperado.toLatin1().constData());
    QCOMPARE(m_mensagens, QStringList{QString::fromUtf8(kMessageSaveSucceeded)});
    QCOMPARE(QApplication::clipboard()->text(), QString::fromStdString(caminho));
    QCOMPARE(listDir(leituras()).size(), std::size_t{1});
}

void TestTracers::lt980RecusaOBloco3() {
    Simulador tracer;
    QVERIFY(tracer.iniciar(caminhoDoSimulador(),
                           {QStringLiteral("--model"), QStringLiteral("0"),
                            QStringLiteral("--link"), link(), QStringLiteral("--no-pace"),
                            QStringLiteral("--fault"), QStringLiteral("nak-block3")},
                           true));
    if (tracer.porta.empty())
        QSKIP("a listed serial port needs a link under /dev: root only");
    abrir(0, tracer.porta);
    QTest::mouseClick(botao("btnLeituraSerial"), Qt::LeftButton);
    QCOMPARE(m_mensagens.size(), 1);
    // The grouping follows the user's locale: C here.
    QVERIFY2(m_mensagens[0].startsWith(QStringLiteral("Houve um problema na leitura (40,020,040)")),
             qPrintable(m_mensagens[0]));
    QVERIFY(m_mensagens[0].contains(QStringLiteral("Erro no recebimento de dados da leitura.")));
    QVERIFY(listDir(leituras()).empty());
    QCOMPARE(tracer.resultado(kReadingMs), QStringLiteral("RESULT OK fault=nak-block3"));
}

void TestTracers::takubomaticRespondeErrado() {
    Simulador tracer;
    QVERIFY(tracer.iniciar(caminhoDoSimulador(),
                           {QStringLiteral("--model"), QStringLiteral("5"),
                            QStringLiteral("--link"), link(), QStringLiteral("--no-pace"),
                            QStringLiteral("--fault"), QStringLiteral("wrong-answer")},
                           true));
    if (tracer.porta.empty())
        QSKIP("a listed serial port needs a link under /dev: root only");
    abrir(5, tracer.porta);
    QTest::mouseClick(botao("btnLeituraSerial"), Qt::LeftButton);
    QCOMPARE(m_mensagens.size(), 1);
    QVERIFY2(m_mensagens[0].startsWith(QStringLiteral("Houve um problema na leitura (20)")),
             qPrintable(m_mensagens[0]));
    QVERIFY(m_mensagens[0].contains(QStringLiteral("Erro na solicitação de dados para o Tracer.")));
    QVERIFY(listDir(leituras()).empty());
    QCOMPARE(tracer.resultado(kReadingMs), QStringLiteral("RESULT OK fault=wrong-answer"));
}

// Garbage, then a broken record, then the tracing: the program drops what
// cannot be a record and still reads the tracing.
void TestTracers::dcsComLixoNaLinhaAindaLe() {
    Simulador tracer;
    QVERIFY(
        tracer.iniciar(caminhoDoSimulador(),
                       {QStringLiteral("--model"), QStringLiteral("2"), QStringLiteral("--link"),
                        link(), QStringLiteral("--no-pace"), QStringLiteral("--fault"),
                        QStringLiteral("garbage"), QStringLiteral("--labels"), realista()},
                       true));
    if (tracer.porta.empty())
        QSKIP("a listed serial port needs a link under /dev: root only");
    abrir(2, tracer.porta);
    const std::string caminho = leituras() + "/815.krvw";
    esperarLeitura(caminho, tracer);
    QCOMPARE(tracer.resultado(kReadingMs), QStringLiteral("RESULT OK fault=garbage"));
    compararLeitura("815.krvw", "huvitz.expected");
}

// Half a record, six seconds of silence, then the whole record: the stale half
// is dropped and the record read.
void TestTracers::dcsMeioRegistroExpiraELeOSeguinte() {
    Simulador tracer;
    QVERIFY(
        tracer.iniciar(caminhoDoSimulador(),
                       {QStringLiteral("--model"), QStringLiteral("3"), QStringLiteral("--link"),
                        link(), QStringLiteral("--no-pace"), QStringLiteral("--fault"),
                        QStringLiteral("half"), QStringLiteral("--labels"), realista()},
                       true));
    if (tracer.porta.empty())
        QSKIP("a listed serial port needs a link under /dev: root only");
    abrir(3, tracer.porta);
    const std::string caminho = leituras() + "/815.krvw";
    esperarLeitura(caminho, tracer);
    QCOMPARE(tracer.resultado(kReadingMs), QStringLiteral("RESULT OK fault=half"));
    compararLeitura("815.krvw", "topcom.expected");
}

void TestTracers::caixaAbertaNaoParaODcs_data() {
    QTest::addColumn<int>("modelo");
    QTest::addColumn<QString>("esperado");
    QTest::addRow("Huvitz") << 2 << QStringLiteral("huvitz.expected");
    QTest::addRow("Essilor, depois de Leitura") << 4 << QStringLiteral("essilor.expected");
}

// The lab's default: the success message on, in a real box that nobody
// answers until the tracer is done. The port is still looked at under the
// box: the tracer's next INI request and its second tracing are answered and
// saved while the first box is open.
void TestTracers::caixaAbertaNaoParaODcs() {
    QFETCH(int, modelo);
    QFETCH(QString, esperado);
    setMessageFunctionForTesting(nullptr);
    Simulador tracer;
    QVERIFY(tracer.iniciar(caminhoDoSimulador(),
                           {QStringLiteral("--model"), QString::number(modelo),
                            QStringLiteral("--link"), link(), QStringLiteral("--no-pace"),
                            QStringLiteral("--count"), QStringLiteral("2"),
                            QStringLiteral("--labels"), realista()},
                           true));
    if (tracer.porta.empty())
        QSKIP("a listed serial port needs a link under /dev: root only");
    RespondedorDeCaixas caixas(500, [&tracer] { return tracer.terminou(); });
    abrir(modelo, tracer.porta);
    if (modelo == 4)
        QTest::mouseClick(botao("btnLeituraSerial"), Qt::LeftButton);
    QCOMPARE(tracer.resultado(kReadingMs), QStringLiteral("RESULT OK readings=2"));
    QTRY_COMPARE(caixas.abertas(), 0);
    QCOMPARE(caixas.textos, QStringList(2, QString::fromUtf8(kMessageSaveSucceeded)));
    QCOMPARE(caixas.maisAbertas, 2);
    for (const char* arquivo : {"815.krvw", "816.krvw"})
        compararLeitura(arquivo, esperado.toLatin1().constData());
}

QTEST_MAIN(TestTracers)
#include "test_tracers.moc"
