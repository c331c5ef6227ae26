// The networked tracers through the main window: real sockets on 127.0.0.1
// against the window's TCP server, the tracer played either by
// krvw-tracer-sim (whole readings, compared byte for byte after deciphering)
// or by a socket of the test (framing, closes, the connection table). Single
// conversations (a reading, in pieces, with drill holes, a job asked back,
// each misbehaviour) are captures replayed by replay_tests.
#include "Principal.h"

#include "Conexaotcp.h"
#include "Conexoesrede.h"
#include "Parametroskrvw.h"
#include "Readingfile.h"
#include "Servidorrede.h"
#include "caixas.h"
#include "janelateste.h"
#include "leituracifrada.h"
#include "simulador.h"

#include <QAction>
#include <QTcpServer>
#include <QTcpSocket>
#include <QToolButton>
#include <QtTest>

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
    void caixaAbertaNaoParaOsTracers_data();
    void caixaAbertaNaoParaOsTracers();
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

void TestRede::primeiroByteInvalidoFechaAConexao() {
    abrir();
    QTcpSocket tracer;
    conectar(tracer);
    tracer.write(QByteArray(11, 'A'));
    QTest::qWait(200);
    QVERIFY(m_mensagens.isEmpty()); // 11 bytes: not yet a header to check
    tracer.write(QByteArray("A"));
    QTRY_COMPARE(m_mensagens, QStringList{QString::fromUtf8(kMensagemInconsistencia)});
    QTRY_COMPARE(tracer.state(), QAbstractSocket::UnconnectedState);
    // The slot was freed: ten more connections all get one.
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
    mostrar(configuracao(1, "", outro.serverPort(), leituras()));
    QTRY_COMPARE(m_mensagens, QStringList{QString::fromUtf8(kMensagemServidor)});
    QVERIFY(!m_janela->servidor().isListening());
}

void TestRede::caixaAbertaNaoParaOsTracers_data() {
    QTest::addColumn<QStringList>(
        "tracers"); // each one's options; the others start under the first box
    QTest::addColumn<QString>("resultado"); // every tracer's last line
    QTest::addColumn<QString>("texto");     // every box's
    QTest::addColumn<int>("caixas");
    QTest::addColumn<int>("maisAbertas");
    QTest::addColumn<QStringList>("jobs"); // the files written
    const QString sucesso = QString::fromUtf8(kMessageSaveSucceeded);
    QTest::addRow("desliga depois do Accept") << QStringList{"--hang-up"} << "RESULT OK readings=1"
                                              << sucesso << 1 << 1 << QStringList{"815"};
    QTest::addRow("segundo job e fim na mesma conexao")
        << QStringList{"--count 2"} << "RESULT OK readings=2" << sucesso << 2 << 2
        << QStringList{"815", "816"};
    QTest::addRow("job de outro tracer") << QStringList{"", "--job 00900"} << "RESULT OK readings=1"
                                         << sucesso << 2 << 2 << QStringList{"815", "900"};
    QTest::addRow("alem de oito caixas, as mensagens esperam a vez")
        << QStringList{"--count 10"} << "RESULT OK readings=10" << sucesso << 10 << 8
        << QStringList{"815", "816", "817", "818", "819", "820", "821", "822", "823", "824"};
    for (const auto& [falha, texto] : {std::pair{"connection-ended", kMensagemAbortada},
                                       std::pair{"error", kMensagemErroReportado},
                                       std::pair{"bad-lead", kMensagemInconsistencia}})
        QTest::addRow("%s, o tracer some antes do OK", falha)
            << QStringList{QStringLiteral("--hang-up --fault ") + falha}
            << QStringLiteral("RESULT OK fault=") + falha << QString::fromUtf8(texto) << 1 << 1
            << QStringList{};
}

// The lab's default: success messages on, real boxes, a person who answers
// them only after the tracers are done. Each tracer must finish its whole
// conversation while the boxes are open (or hang up under them), the program
// must live through the answers, every slot and connection come back, and
// the next tracer be served.
void TestRede::caixaAbertaNaoParaOsTracers() {
    QFETCH(QStringList, tracers);
    QFETCH(QString, resultado);
    QFETCH(QString, texto);
    QFETCH(int, caixas);
    QFETCH(int, maisAbertas);
    QFETCH(QStringList, jobs);
    setMessageFunctionForTesting(nullptr);
    abrir();
    std::vector<std::unique_ptr<Simulador>> simuladores;
    const auto terminaram = [&simuladores] {
        return std::all_of(simuladores.begin(), simuladores.end(),
                           [](const auto& simulador) { return simulador->terminou(); });
    };
    const auto iniciar = [this, &simuladores](const QString& opcoes) {
        simuladores.push_back(std::make_unique<Simulador>());
        return simuladores.back()->iniciar(caminhoDoSimulador(),
                                           QStringList{"--model", "1", "--labels", realista(),
                                                       "--quiet", "--port",
                                                       QString::number(m_porta)} +
                                               opcoes.split(' ', Qt::SkipEmptyParts),
                                           false);
    };
    RespondedorDeCaixas respondedor(500, terminaram);
    bool iniciados = true;
    respondedor.comACaixaAberta = [&] {
        for (const QString& opcoes : tracers.mid(1))
            iniciados = iniciar(opcoes) && iniciados;
    };
    QVERIFY(iniciar(tracers.first()));
    QTRY_VERIFY_WITH_TIMEOUT(simuladores.size() == std::size_t(tracers.size()), kLeituraMs);
    QVERIFY(iniciados);
    for (const auto& simulador : simuladores)
        QCOMPARE(simulador->resultado(kLeituraMs), resultado);
    // Messages past the nesting limit are shown later, from the event loop.
    QTRY_VERIFY_WITH_TIMEOUT(respondedor.textos.size() >= caixas, kLeituraMs);
    QCOMPARE(respondedor.textos, QStringList(caixas, texto));
    QCOMPARE(respondedor.maisAbertas, maisAbertas);
    for (const QString& job : jobs)
        compararLeitura(job.toStdString() + ".krvw", "network.expected");
    QCOMPARE(listDir(leituras()).size(), std::size_t(jobs.size()));
    QTRY_VERIFY(m_janela->findChildren<ConexaoTcp*>().isEmpty());
    QVERIFY(slotsLivres());
    QCOMPARE(simular({"--model", "1", "--labels", realista()}),
             QStringLiteral("RESULT OK readings=1"));
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
        QApplication::activeModalWidget()
            ->findChild<QToolButton*>(QStringLiteral("btnConfirmar"))
            ->click();
    });
    m_janela->findChild<QAction*>(QStringLiteral("Parametros1"))->trigger();
    formParametrosKRVW = nullptr;
    QCOMPARE(resultado, QStringLiteral("RESULT OK readings=1"));
    QCOMPARE(caixas.textos, QStringList{QString::fromUtf8(kMessageSaveSucceeded)});
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
    QTest::addColumn<bool>("pelaJanela");
    QTest::addRow("Sair") << false;
    QTest::addRow("fechando a janela") << true;
}

// "Sair", or closing the main window, while a tracing's box is open ends the
// message loop; the connection under the box is let go only once its
// handling has returned, and the reading is whole.
void TestRede::fimDoProgramaComACaixaAberta() {
    QFETCH(bool, pelaJanela);
    setMessageFunctionForTesting(nullptr);
    abrir();
    RespondedorDeCaixas caixas(0, [] { return false; }); // nobody answers
    caixas.comACaixaAberta = [this, pelaJanela] {
        if (pelaJanela)
            m_janela->close();
        else
            m_janela->findChild<QAction*>(QStringLiteral("Sair1"))->trigger();
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
