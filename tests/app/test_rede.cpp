// The networked tracers through the main window: real sockets on 127.0.0.1
// against the window's TCP server, the tracer played either by
// krvw-tracer-sim (whole readings, compared byte for byte after deciphering)
// or by a socket of the test (framing, closes, the connection table). Single
// conversations (a reading, in pieces, with drill holes, a job asked back,
// each misbehaviour) are captures replayed by replay_tests.
#include "Principal.h"

#include "Conexaotcp.h"
#include "Conexoesrede.h"
#include "Encerramento.h"
#include "Parametroskrvw.h"
#include "Readingfile.h"
#include "Servidorrede.h"
#include "caixas.h"
#include "janelateste.h"
#include "leituracifrada.h"
#include "simulador.h"

#include <QAction>
#include <QLabel>
#include <QTcpServer>
#include <QTcpSocket>
#include <QToolButton>
#include <QtTest>

#include <csignal>
#include <unistd.h>

namespace {

constexpr int kLeituraMs = 30000;

QByteArray accept(quint16 a, quint16 b) {
    return mensagemDeRede(0x17, 2, a, b);
}

} // namespace

class TestRede : public QObject, public JanelaDeTeste {
    Q_OBJECT

private:
    quint16 m_porta = 0;

    void abrir(bool noMsg = false) {
        m_porta = portaLivre();
        mostrar(configuracao(1, "", m_porta, leituras(), noMsg));
        QTRY_VERIFY(m_janela->servidor().isListening());
        QVERIFY(m_mensagens.isEmpty());
    }
    void conectar(QTcpSocket& tracer) {
        tracer.connectToHost(QHostAddress::LocalHost, m_porta);
        QTRY_COMPARE(tracer.state(), QAbstractSocket::ConnectedState);
    }
    // What the program answered, once `n` bytes have come.
    // (Fewer bytes when they did not come within 5 s.)
    QByteArray resposta(QTcpSocket& tracer, int n) {
        QElapsedTimer relogio;
        relogio.start();
        while (tracer.bytesAvailable() < n && relogio.elapsed() < 5000)
            QTest::qWait(10);
        return tracer.read(n);
    }
    // The simulator as a networked tracer; its last line.
    QString simular(QStringList argumentos) {
        argumentos << QStringLiteral("--port") << QString::number(m_porta)
                   << QStringLiteral("--quiet");
        Simulador tracer;
        if (!tracer.iniciar(caminhoDoSimulador(), argumentos, false))
            return QStringLiteral("not started");
        return tracer.resultado(kLeituraMs);
    }

private slots:
    void init() { criarJanela(); }
    void cleanup() { destruirJanela(); }

    void duasLeiturasNaMesmaConexao();
    void primeiroByteInvalidoFechaAConexao();
    void decimaPrimeiraConexaoFechadaNaHora();
    void portaEmUso();
    void dezLeiturasComAsCaixasSemResposta();
    void leituraComOsParametrosAbertos();
    void caminhoVazioGravaNaPastaPessoal();
    void fimDoProgramaComACaixaAberta_data();
    void fimDoProgramaComACaixaAberta();
};

void TestRede::duasLeiturasNaMesmaConexao() {
    abrir(true);
    QCOMPARE(simular({QStringLiteral("--model"), QStringLiteral("1"), QStringLiteral("--labels"),
                      realista(), QStringLiteral("--count"), QStringLiteral("2")}),
             QStringLiteral("RESULT OK readings=2"));
    compararLeitura("815.krvw", "network.expected");
    compararLeitura("816.krvw", "network.expected");
    QVERIFY(m_mensagens.isEmpty()); // NOMSG
}

// Garbage under a box nobody answers: the connection is closed at once, not
// when the box is answered, so the rest of the garbage, sent in pieces, finds
// it closed and opens no box of its own; its slot is free for ten tracers.
void TestRede::primeiroByteInvalidoFechaAConexao() {
    setMessageFunctionForTesting(nullptr);
    abrir();
    RespondedorDeCaixas caixas(0, [] { return false; });
    QTcpSocket tracer;
    conectar(tracer);
    tracer.write(QByteArray(11, 'A'));
    QTest::qWait(200);
    QVERIFY(caixas.textos.isEmpty()); // 11 bytes: not yet a header to check
    for (int pedaco = 0; pedaco < 9 && tracer.state() == QAbstractSocket::ConnectedState;
         ++pedaco) {
        tracer.write(QByteArray(pedaco == 0 ? 1 : 12, 'A'));
        QTest::qWait(20);
    }
    QTRY_COMPARE_WITH_TIMEOUT(tracer.state(), QAbstractSocket::UnconnectedState, 1000);
    QTest::qWait(200);
    QCOMPARE(caixas.textos, QStringList{QString::fromUtf8(kMensagemInconsistencia)});
    QTcpSocket outros[10];
    for (QTcpSocket& outro : outros)
        conectar(outro);
    for (QTcpSocket& outro : outros) {
        outro.write(mensagemDeRede(0x16, 1, 1, 2));
        QCOMPARE(resposta(outro, 12), accept(2, 1));
    }
}

void TestRede::decimaPrimeiraConexaoFechadaNaHora() {
    abrir();
    QTcpSocket dez[10];
    for (QTcpSocket& tracer : dez)
        conectar(tracer);
    QTcpSocket decima;
    decima.connectToHost(QHostAddress::LocalHost, m_porta);
    QTRY_COMPARE(decima.state(), QAbstractSocket::UnconnectedState);
    quint16 n = 0;
    for (QTcpSocket& tracer : dez) {
        ++n;
        tracer.write(mensagemDeRede(0x16, 1, n, static_cast<quint16>(n + 100)));
        QCOMPARE(resposta(tracer, 12), accept(static_cast<quint16>(n + 100), n));
    }
    QVERIFY(m_mensagens.isEmpty());
}

void TestRede::portaEmUso() {
    QTcpServer outro;
    QVERIFY(outro.listen(QHostAddress::Any, 0));
    const quint16 porta = outro.serverPort();
    mostrar(configuracao(1, "", porta, leituras()));
    const QStringList dita{
        QString::fromUtf8(kMensagemServidor) +
        QStringLiteral("\n\nPorta TCP %1: já está em uso por outro programa.").arg(porta)};
    QTRY_COMPARE(m_mensagens, dita);
    QVERIFY(!m_janela->servidor().isListening());
    // Listened on by itself once the port is free; the return is no box.
    outro.close();
    QTRY_VERIFY_WITH_TIMEOUT(m_janela->servidor().isListening(), 4 * kIntervaloReaberturaMs);
    QCOMPARE(m_janela->servidor().serverPort(), porta);
    QCOMPARE(m_janela->findChild<QLabel*>(QStringLiteral("lblPorta"))->text(),
             QString::number(porta));
    QCOMPARE(m_mensagens, dita);
}

// The lab's default, success messages on, and nobody at the boxes for a
// while: two tracers stay connected without a word, and ten readings come
// one after another, each tracer ending its connection after the End
// request's reply. Each is answered and saved at once, and gives its slot
// back when it hangs up; one box is up and the others wait for it, then come
// one at a time as they are answered.
void TestRede::dezLeiturasComAsCaixasSemResposta() {
    setMessageFunctionForTesting(nullptr);
    abrir();
    bool responder = false;
    RespondedorDeCaixas caixas(0, [&responder] { return responder; });
    Simulador calados[2];
    for (Simulador& calado : calados)
        QVERIFY(calado.iniciar(caminhoDoSimulador(),
                               {"--model", "1", "--port", QString::number(m_porta), "--fault",
                                "silent", "--wait-ms", "60000"},
                               false));
    QTRY_COMPARE(slotsEmUso(), 2);
    QStringList jobs;
    for (int job = 801; job <= 810; ++job) {
        jobs << QString::number(job);
        QCOMPARE(simular({"--model", "1", "--labels", realista(), "--job",
                          QStringLiteral("00%1").arg(job)}),
                 QStringLiteral("RESULT OK readings=1"));
    }
    for (const QString& job : jobs)
        compararLeitura(job.toStdString() + ".krvw", "network.expected");
    QTRY_COMPARE(slotsEmUso(), 2);
    QCOMPARE(caixas.textos.size(), 1);
    responder = true;
    QTRY_COMPARE(caixas.textos, QStringList(10, QString::fromUtf8(kMessageSaveSucceeded)));
    QTRY_VERIFY(RespondedorDeCaixas::nenhumaAberta());
    QCOMPARE(caixas.maisAbertas, 1);
    for (Simulador& calado : calados)
        static_cast<void>(calado.resultado(0));
    QTRY_COMPARE(slotsEmUso(), 0);
}

// A tracing that comes while the parameters dialog is open is saved and its
// box shown over the dialog; the dialog, confirmed afterwards, opens the
// server again, and the next tracer is served.
void TestRede::leituraComOsParametrosAbertos() {
    setMessageFunctionForTesting(nullptr);
    abrir();
    TformParametrosKRVW dialogo(m_janela.get());
    formParametrosKRVW = &dialogo;
    RespondedorDeCaixas caixas(500);
    QString resultado;
    QTimer::singleShot(0, this, [&] {
        resultado = simular({QStringLiteral("--model"), QStringLiteral("1"),
                             QStringLiteral("--labels"), realista()});
        dialogo.findChild<QToolButton*>(QStringLiteral("btnConfirmar"))->click();
    });
    m_janela->findChild<QAction*>(QStringLiteral("Parametros1"))->trigger();
    formParametrosKRVW = nullptr;
    QCOMPARE(resultado, QStringLiteral("RESULT OK readings=1"));
    QTRY_COMPARE(caixas.textos, QStringList{QString::fromUtf8(kMessageSaveSucceeded)});
    QTRY_VERIFY(RespondedorDeCaixas::nenhumaAberta()); // answered, above the dialog closed
    compararLeitura("815.krvw", "network.expected");
    QVERIFY(m_janela->servidor().isListening());
    QCOMPARE(simular({QStringLiteral("--model"), QStringLiteral("1"), QStringLiteral("--labels"),
                      realista(), QStringLiteral("--job"), QStringLiteral("00900")}),
             QStringLiteral("RESULT OK readings=1"));
    compararLeitura("900.krvw", "network.expected");
}

// As after installing: no reading folder configured. The reading goes to the
// user's home folder, not to "/", which only root may write.
void TestRede::caminhoVazioGravaNaPastaPessoal() {
    m_porta = portaLivre();
    mostrar(configuracao(1, "", m_porta, "", true));
    QCOMPARE(simular({"--model", "1", "--labels", realista()}),
             QStringLiteral("RESULT OK readings=1"));
    const std::string diferenca =
        diferencaDaLeitura(m_casa->path() + "/815.krvw", "serial/network.expected");
    QVERIFY2(diferenca.empty(), diferenca.c_str());
}

void TestRede::fimDoProgramaComACaixaAberta_data() {
    QTest::addColumn<int>("como");
    QTest::addRow("Sair") << 0;
    QTest::addRow("fechando a janela") << 1;
    QTest::addRow("SIGTERM de um logout") << 2;
}

// "Sair", closing the main window or a logout's SIGTERM, while a tracing's box
// is open, ends the message loop; the reading is whole.
void TestRede::fimDoProgramaComACaixaAberta() {
    QFETCH(int, como);
    setMessageFunctionForTesting(nullptr);
    abrir();
    RespondedorDeCaixas caixas(0, [] { return false; }); // nobody answers
    caixas.comACaixaAberta = [this, como] {
        if (como == 0)
            m_janela->findChild<QAction*>(QStringLiteral("Sair1"))->trigger();
        else if (como == 1)
            m_janela->close();
        else if (EncerrarNosSinais())
            ::kill(::getpid(), SIGTERM);
    };
    Simulador tracer;
    QVERIFY(tracer.iniciar(caminhoDoSimulador(),
                           {QStringLiteral("--model"), QStringLiteral("1"),
                            QStringLiteral("--labels"), realista(), QStringLiteral("--port"),
                            QString::number(m_porta), QStringLiteral("--hang-up")},
                           false));
    QCOMPARE(QApplication::exec(), 0);
    QCOMPARE(caixas.textos, QStringList{QString::fromUtf8(kMessageSaveSucceeded)});
    compararLeitura("815.krvw", "network.expected");
    QCOMPARE(listDir(leituras()).size(), std::size_t{1});
    QTRY_VERIFY(m_janela->findChildren<ConexaoTcp*>().isEmpty());
}

QTEST_MAIN(TestRede)
#include "test_rede.moc"
