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

namespace {

// A DCS reading takes a few timer ticks per record; a slow sanitizer build more.
constexpr int kReadingMs = 40000;

struct Caso {
    int modelo;
    const char* falha;   // the simulator's --fault, or "none"
    const char* rotulos; // the tracing the simulator sends
    const char* esperado;
    const char* arquivo; // the reading file's name
};

} // namespace

class TestTracers : public QObject, public JanelaDeTeste {
    Q_OBJECT

private:
    // The simulator playing `modelo` on a port the program lists, and the
    // window configured for it and shown. False when the test has failed.
    bool servir(Simulador& tracer, int modelo, const QStringList& opcoes) {
        if (!tracer.iniciarSerial(modelo, opcoes)) {
            QTest::qFail("the simulator did not come up", __FILE__, __LINE__);
            return false;
        }
        mostrar(configuracao(modelo, tracer.porta, 55555, leituras()));
        if (!m_mensagens.isEmpty()) {
            QTest::qFail(qPrintable(m_mensagens.join(QLatin1Char('|'))), __FILE__, __LINE__);
            return false;
        }
        if (const TracerChannel canal = kTracerModels[static_cast<std::size_t>(modelo)].channel;
            canal == TracerChannel::ReadOnClick || canal == TracerChannel::TimerOnClick)
            QTest::mouseClick(botao("btnLeituraSerial"), Qt::LeftButton);
        return !QTest::currentTestFailed();
    }

private slots:
    void init() { criarJanela(); }
    void cleanup() { destruirJanela(); }

    void leituraCompleta_data();
    void leituraCompleta();
    void leituraComErro_data();
    void leituraComErro();
    void caixaAbertaNaoParaODcs_data();
    void caixaAbertaNaoParaODcs();
};

void TestTracers::leituraCompleta_data() {
    QTest::addColumn<int>("modelo");
    QTest::addColumn<QString>("falha");
    QTest::addColumn<QString>("rotulos");
    QTest::addColumn<QString>("esperado");
    QTest::addColumn<QString>("arquivo");
    // Garbage then a broken record, or half a record and six seconds of
    // silence, before the tracing: what cannot be a record is dropped and the
    // tracing still read.
    const Caso casos[] = {
        {0, "none", "reading/realistic.labels", "lt980.expected", "leitura.krvw"},
        {2, "none", "reading/realistic.labels", "huvitz.expected", "815.krvw"},
        {2, "garbage", "reading/realistic.labels", "huvitz.expected", "815.krvw"},
        {3, "none", "reading/realistic.labels", "topcom.expected", "815.krvw"},
        {3, "half", "reading/realistic.labels", "topcom.expected", "815.krvw"},
        {4, "none", "reading/realistic.labels", "essilor.expected", "815.krvw"},
        {5, "none", "serial/takubomatic.labels", "takubomatic.expected", "leitura.krvw"},
        {6, "none", "reading/realistic.labels", "nidek-serial.expected", "815.krvw"},
    };
    for (const Caso& caso : casos)
        QTest::addRow("modelo %d, %s", caso.modelo, caso.falha)
            << caso.modelo << QString::fromLatin1(caso.falha) << QString::fromLatin1(caso.rotulos)
            << QString::fromLatin1(caso.esperado) << QString::fromLatin1(caso.arquivo);
}

void TestTracers::leituraCompleta() {
    QFETCH(int, modelo);
    QFETCH(QString, falha);
    QFETCH(QString, rotulos);
    QFETCH(QString, esperado);
    QFETCH(QString, arquivo);
    Simulador tracer;
    if (!servir(tracer, modelo,
                {"--fault", falha, "--labels",
                 QString::fromStdString(testDataPath(rotulos.toStdString()))}))
        return;
    const std::string caminho = leituras() + "/" + arquivo.toStdString();
    // The reading file, or a message that says why there is none.
    QTRY_VERIFY_WITH_TIMEOUT(fileExists(caminho) || !m_mensagens.isEmpty(), kReadingMs);
    QVERIFY2(fileExists(caminho),
             qPrintable(m_mensagens.join(QLatin1Char('|')) + QLatin1Char('\n') +
                        tracer.resultado(3000) + QLatin1Char('\n') + tracer.saida()));
    QCOMPARE(tracer.resultado(kReadingMs),
             falha == "none" ? QStringLiteral("RESULT OK readings=1") : "RESULT OK fault=" + falha);
    compararLeitura(arquivo.toStdString(), esperado.toLatin1().constData());
    QCOMPARE(m_mensagens, QStringList{QString::fromUtf8(kMessageSaveSucceeded)});
    QCOMPARE(QApplication::clipboard()->text(), QString::fromStdString(caminho));
    QCOMPARE(listDir(leituras()).size(), std::size_t{1});
}

void TestTracers::leituraComErro_data() {
    QTest::addColumn<int>("modelo");
    QTest::addColumn<QString>("falha");
    QTest::addColumn<QString>("inicio");
    QTest::addColumn<QString>("detalhe");
    // The grouping follows the user's locale: C here.
    QTest::addRow("LT980 recusa o bloco 3") << 0 << "nak-block3"
                                            << "Houve um problema na leitura (40,020,040)"
                                            << "Erro no recebimento de dados da leitura.";
    QTest::addRow("Takubomatic responde errado") << 5 << "wrong-answer"
                                                 << "Houve um problema na leitura (20)"
                                                 << "Erro na solicitação de dados para o Tracer.";
}

void TestTracers::leituraComErro() {
    QFETCH(int, modelo);
    QFETCH(QString, falha);
    QFETCH(QString, inicio);
    QFETCH(QString, detalhe);
    Simulador tracer;
    if (!servir(tracer, modelo, {"--fault", falha}))
        return;
    QCOMPARE(m_mensagens.size(), 1);
    QVERIFY2(m_mensagens[0].startsWith(inicio), qPrintable(m_mensagens[0]));
    QVERIFY(m_mensagens[0].contains(detalhe));
    QVERIFY(listDir(leituras()).empty());
    QCOMPARE(tracer.resultado(kReadingMs), "RESULT OK fault=" + falha);
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
    // A tracer that stalls fails within the test's time, its output shown.
    QElapsedTimer relogio;
    relogio.start();
    RespondedorDeCaixas caixas(
        500, [&] { return tracer.terminou() || relogio.elapsed() > kReadingMs / 2; });
    if (!servir(
            tracer, modelo,
            {"--count", "2", "--wait-ms", QString::number(kReadingMs / 2), "--labels", realista()}))
        return;
    const QString resultado = tracer.resultado(kReadingMs);
    QVERIFY2(resultado == QStringLiteral("RESULT OK readings=2"), qPrintable(tracer.saida()));
    QCOMPARE(caixas.textos, QStringList(2, QString::fromUtf8(kMessageSaveSucceeded)));
    QCOMPARE(caixas.maisAbertas, 2);
    for (const char* arquivo : {"815.krvw", "816.krvw"})
        compararLeitura(arquivo, esperado.toLatin1().constData());
}

QTEST_MAIN(TestTracers)
#include "test_tracers.moc"
