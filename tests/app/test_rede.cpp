// The networked tracers through the main window: real sockets on 127.0.0.1
// against the window's TCP server, the tracer played either by
// krvw-tracer-sim (whole readings, compared byte for byte after deciphering)
// or by a socket of the test (framing, closes, the connection table).
#include "Principal.h"

#include "Conexaotcp.h"
#include "Conexoesrede.h"
#include "Parametroskrvw.h"
#include "Readingfile.h"
#include "Servidorrede.h"
#include "caixas.h"
#include "janelateste.h"
#include "simulador.h"

#include <QAction>
#include <QTcpServer>
#include <QTcpSocket>
#include <QToolButton>
#include <QtTest>

namespace {

constexpr int kLeituraMs = 30000;

// A message of the tracers' protocol: code, words, payload, check bytes, terminator.
QByteArray mensagem(unsigned char lider, unsigned char tipo, quint16 a, quint16 b,
                    const QByteArray& payload = {}) {
    QByteArray m;
    m.append(static_cast<char>(lider)).append(static_cast<char>(tipo)).append('\0');
    for (quint16 palavra : {a, b, static_cast<quint16>(payload.size())})
        m.append(static_cast<char>(palavra & 0xFF)).append(static_cast<char>(palavra >> 8));
    m.append(payload);
    m.append('\0').append('\0').append('\x19');
    return m;
}

QByteArray accept(quint16 a, quint16 b) {
    return mensagem(0x17, 2, a, b);
}

QByteArray identificacao(quint16 a, quint16 b, const char* job) {
    QByteArray texto(job);
    texto.append(QByteArray(16 - texto.size(), '\0'));
    return mensagem(0x16, 8, a, b, texto);
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

    void leituraCompletaDoSimulador_data();
    void leituraCompletaDoSimulador();
    void duasLeiturasNaMesmaConexao();
    void duasMensagensNumSoPedaco();
    void primeiroByteInvalidoFechaAConexao();
    void conexaoEncerradaPeloDispositivo();
    void pedidoDeJobSemTracado();
    void decimaPrimeiraConexaoFechadaNaHora();
    void tamanhoAcimaDoBufferEInconsistente();
    void portaEmUso();
    void caixaAbertaNaoParaOsTracers_data();
    void caixaAbertaNaoParaOsTracers();
    void leituraComOsParametrosAbertos();
    void fimDoProgramaComACaixaAberta_data();
    void fimDoProgramaComACaixaAberta();
};

void TestRede::leituraCompletaDoSimulador_data() {
    QTest::addColumn<QStringList>("opcoes");
    QTest::addColumn<QString>("esperado");
    QTest::addRow("inteira") << QStringList{} << QStringLiteral("network.expected");
    QTest::addRow("em pedacos 1, 500, 1583")
        << QStringList{QStringLiteral("--pieces"), QStringLiteral("1,500,1583")}
        << QStringLiteral("network.expected");
    QTest::addRow("com furos") << QStringList{QStringLiteral("--drill")}
                               << QStringLiteral("network-drill.expected");
    QTest::addRow("pedindo o job de volta")
        << QStringList{QStringLiteral("--ask-job")} << QStringLiteral("network.expected");
}

// The simulator checks every reply byte for byte (the Accept before the save,
// the job sent back); the file must be the expected text, written once.
void TestRede::leituraCompletaDoSimulador() {
    QFETCH(QStringList, opcoes);
    QFETCH(QString, esperado);
    abrir();
    QCOMPARE(simular(QStringList{QStringLiteral("--model"), QStringLiteral("1"),
                                 QStringLiteral("--labels"), realista()} +
                     opcoes),
             QStringLiteral("RESULT OK readings=1"));
    QCOMPARE(listDir(leituras()).size(), std::size_t{1});
    compararLeitura("815.krvw", esperado.toLatin1().constData());
    QCOMPARE(m_mensagens, QStringList{QString::fromUtf8(kMessageSaveSucceeded)});
}

void TestRede::duasLeiturasNaMesmaConexao() {
    abrir(true);
    QCOMPARE(simular({QStringLiteral("--model"), QStringLiteral("1"), QStringLiteral("--labels"),
                      realista(), QStringLiteral("--count"), QStringLiteral("2")}),
             QStringLiteral("RESULT OK readings=2"));
    compararLeitura("815.krvw", "network.expected");
    compararLeitura("816.krvw", "network.expected");
    QVERIFY(m_mensagens.isEmpty()); // NOMSG
}

void TestRede::duasMensagensNumSoPedaco() {
    abrir();
    QTcpSocket tracer;
    conectar(tracer);
    tracer.write(mensagem(0x16, 1, 0x0102, 0x0304) + identificacao(0x0506, 0x0708, "0000012345"));
    QCOMPARE(resposta(tracer, 24), accept(0x0304, 0x0102) + accept(0x0708, 0x0506));
    QCOMPARE(QString::fromLatin1(m_janela->registro().job), QStringLiteral("0000012345"));
    QVERIFY(m_mensagens.isEmpty());
    QCOMPARE(tracer.state(), QAbstractSocket::ConnectedState);
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
        outro.write(mensagem(0x16, 1, 1, 2));
        QCOMPARE(resposta(outro, 12), accept(2, 1));
    }
}

void TestRede::conexaoEncerradaPeloDispositivo() {
    abrir();
    QTcpSocket tracer;
    conectar(tracer);
    tracer.write(mensagem(0x16, 6, 1, 2));
    QTRY_COMPARE(m_mensagens, QStringList{QString::fromUtf8(kMensagemAbortada)});
    QTRY_COMPARE(tracer.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(tracer.bytesAvailable(), 0); // no reply

    // A device that just closes its side: no message.
    m_mensagens.clear();
    QTcpSocket outro;
    conectar(outro);
    outro.disconnectFromHost();
    QTest::qWait(200);
    QVERIFY(m_mensagens.isEmpty());
}

void TestRede::pedidoDeJobSemTracado() {
    abrir();
    QTcpSocket tracer;
    conectar(tracer);
    tracer.write(mensagem(0x16, 3, 0x1111, 0x2222, QByteArray(16, '\0')));
    QCOMPARE(resposta(tracer, 14), mensagem(0x16, 7, 0x2222, 0x1111, QByteArray("\x01\x00", 2)));
    tracer.write(mensagem(0x16, 5, 0x3333, 0x4444));
    QCOMPARE(resposta(tracer, 12), mensagem(0x16, 5, 0x4444, 0));
    QTest::qWait(100);
    QCOMPARE(tracer.state(), QAbstractSocket::ConnectedState);
    QVERIFY(m_mensagens.isEmpty());
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
        tracer.write(mensagem(0x16, 1, n, static_cast<quint16>(n + 100)));
        QCOMPARE(resposta(tracer, 12), accept(static_cast<quint16>(n + 100), n));
    }
    QVERIFY(m_mensagens.isEmpty());
}

// A length the message buffer cannot hold, or a negative one, is not copied:
// the connection is ended as for any inconsistent header.
void TestRede::tamanhoAcimaDoBufferEInconsistente() {
    abrir();
    for (quint16 tamanho : {quint16{9989}, quint16{0x8001}}) {
        m_mensagens.clear();
        QTcpSocket tracer;
        conectar(tracer);
        QByteArray cabecalho = mensagem(0x16, 4, 1, 2);
        cabecalho[7] = static_cast<char>(tamanho & 0xFF);
        cabecalho[8] = static_cast<char>(tamanho >> 8);
        tracer.write(cabecalho);
        QTRY_COMPARE(m_mensagens, QStringList{QString::fromUtf8(kMensagemInconsistencia)});
        QTRY_COMPARE(tracer.state(), QAbstractSocket::UnconnectedState);
    }
}

void TestRede::portaEmUso() {
    QTcpServer outro;
    QVERIFY(outro.listen(QHostAddress::Any, 0));
    mostrar(configuracao(1, "", outro.serverPort(), leituras()));
    QTRY_COMPARE(m_mensagens, QStringList{QString::fromUtf8(kMensagemServidor)});
    QVERIFY(!m_janela->servidor().isListening());
}

void TestRede::caixaAbertaNaoParaOsTracers_data() {
    const QString sucesso = QString::fromUtf8(kMessageSaveSucceeded);
    QTest::addColumn<QList<QStringList>>("tracers");
    QTest::addColumn<QStringList>("resultados");
    QTest::addColumn<QStringList>("textos");
    QTest::addColumn<int>("maisAbertas");
    QTest::addColumn<QStringList>("arquivos");
    const auto sim = [](std::initializer_list<const char*> opcoes) {
        QStringList lista;
        for (const char* opcao : opcoes)
            lista << QString::fromLatin1(opcao);
        return lista;
    };
    QTest::addRow("desliga depois do Accept")
        << QList<QStringList>{sim({"--hang-up"})} << QStringList{"RESULT OK readings=1"}
        << QStringList{sucesso} << 1 << QStringList{"815"};
    QTest::addRow("segundo job e fim na mesma conexao")
        << QList<QStringList>{sim({"--count", "2"})} << QStringList{"RESULT OK readings=2"}
        << QStringList{sucesso, sucesso} << 2 << QStringList{"815", "816"};
    QTest::addRow("job de outro tracer")
        << QList<QStringList>{sim({}), sim({"--job", "00900"})}
        << QStringList{"RESULT OK readings=1", "RESULT OK readings=1"}
        << QStringList{sucesso, sucesso} << 2 << QStringList{"815", "900"};
    QTest::addRow("caixas alem das oito aninhadas esperam a vez")
        << QList<QStringList>{sim({"--count", "10"})} << QStringList{"RESULT OK readings=10"}
        << QStringList(10, sucesso) << 8
        << QStringList{"815", "816", "817", "818", "819", "820", "821", "822", "823", "824"};
    const struct {
        const char* falha;
        const char* texto;
    } falhas[] = {{"connection-ended", kMensagemAbortada},
                  {"error", kMensagemErroReportado},
                  {"bad-lead", kMensagemInconsistencia}};
    for (const auto& falha : falhas)
        QTest::addRow("%s, o tracer some antes do OK", falha.falha)
            << QList<QStringList>{sim({"--fault", falha.falha, "--hang-up"})}
            << QStringList{QStringLiteral("RESULT OK fault=") + QString::fromLatin1(falha.falha)}
            << QStringList{QString::fromUtf8(falha.texto)} << 1 << QStringList{};
}

// The lab's default: success messages on, real boxes, a person who answers
// them only after the tracers are done. Each tracer must finish its whole
// conversation while the boxes are open (or hang up under them), the program
// must live through the answers, every slot and connection come back, and
// the next tracer be served.
void TestRede::caixaAbertaNaoParaOsTracers() {
    QFETCH(QList<QStringList>, tracers);
    QFETCH(QStringList, resultados);
    QFETCH(QStringList, textos);
    QFETCH(int, maisAbertas);
    QFETCH(QStringList, arquivos);
    setMessageFunctionForTesting(nullptr);
    abrir();
    std::vector<std::unique_ptr<Simulador>> simuladores;
    const auto terminaram = [&simuladores] {
        for (const auto& simulador : simuladores)
            if (!simulador->terminou())
                return false;
        return true;
    };
    const auto iniciar = [this, &simuladores](const QStringList& opcoes) {
        simuladores.push_back(std::make_unique<Simulador>());
        return simuladores.back()->iniciar(
            caminhoDoSimulador(),
            QStringList{QStringLiteral("--model"), QStringLiteral("1"), QStringLiteral("--labels"),
                        realista(), QStringLiteral("--quiet"), QStringLiteral("--port"),
                        QString::number(m_porta)} +
                opcoes,
            false);
    };
    RespondedorDeCaixas caixas(500, terminaram);
    // The other tracers start while the first box is open.
    bool iniciados = true;
    caixas.comACaixaAberta = [&] {
        for (qsizetype i = 1; i < tracers.size(); ++i)
            iniciados = iniciar(tracers[i]) && iniciados;
    };
    QVERIFY(iniciar(tracers.first()));
    QTRY_VERIFY_WITH_TIMEOUT(simuladores.size() == static_cast<std::size_t>(tracers.size()),
                             kLeituraMs);
    QVERIFY(iniciados);
    QStringList obtidos;
    for (const auto& simulador : simuladores)
        obtidos << simulador->resultado(kLeituraMs);
    QTRY_VERIFY_WITH_TIMEOUT(terminaram() && caixas.abertas() == 0, kLeituraMs);
    QCOMPARE(obtidos, resultados);
    QCOMPARE(caixas.textos, textos);
    QCOMPARE(caixas.maisAbertas, maisAbertas);
    for (const QString& job : arquivos)
        compararLeitura(job.toStdString() + ".krvw", "network.expected");
    QCOMPARE(listDir(leituras()).size(), static_cast<std::size_t>(arquivos.size()));
    QTRY_VERIFY(m_janela->findChildren<ConexaoTcp*>().isEmpty());
    QVERIFY(slotsLivres());
    QCOMPARE(simular({QStringLiteral("--model"), QStringLiteral("1"), QStringLiteral("--labels"),
                      realista()}),
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
    QCOMPARE(caixas.abertas(), 0);
    compararLeitura("815.krvw", "network.expected");
    QCOMPARE(listDir(leituras()).size(), std::size_t{1});
    QTRY_VERIFY(m_janela->findChildren<ConexaoTcp*>().isEmpty());
}

QTEST_MAIN(TestRede)
#include "test_rede.moc"
