// Serial tracers through the main window as the lab runs it, with the success
// message in a real box: krvw-tracer-sim plays the tracer on a
// pseudo-terminal that the program lists as a serial port. (A reading of each
// model and each fault are captures replayed by replay_tests.)
#include "Principal.h"

#include "Readingfile.h"
#include "caixas.h"
#include "janelateste.h"
#include "simulador.h"

#include <QApplication>
#include <QPushButton>
#include <QtTest>

namespace {

// A DCS reading takes a few timer ticks per record; a slow sanitizer build more.
constexpr int kReadingMs = 40000;

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

    void caixaAbertaNaoParaODcs_data();
    void caixaAbertaNaoParaODcs();
};

void TestTracers::caixaAbertaNaoParaODcs_data() {
    QTest::addColumn<int>("modelo");
    QTest::addColumn<QString>("esperado");
    QTest::addRow("Huvitz") << 2 << QStringLiteral("huvitz.expected");
    QTest::addRow("Essilor, depois de Leitura") << 4 << QStringLiteral("essilor.expected");
}

// The lab's default: the success message on, in a real box that nobody
// answers until the tracer is done. The port is still looked at under the
// box: the tracer's next INI request and its second tracing are answered and
// saved while the first box is open, whose second box waits its turn.
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
    QTRY_COMPARE(caixas.textos, QStringList(2, QString::fromUtf8(kMessageSaveSucceeded)));
    QCOMPARE(caixas.maisAbertas, 1);
    for (const char* arquivo : {"815.krvw", "816.krvw"})
        compararLeitura(arquivo, esperado.toLatin1().constData());
}

QTEST_MAIN(TestTracers)
#include "test_tracers.moc"
