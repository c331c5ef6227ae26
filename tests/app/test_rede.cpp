// The networked tracers through the main window: real sockets on 127.0.0.1
// against the window's TCP server, the tracer played either by
// krvw-tracer-sim (whole readings, compared byte for byte after deciphering)
// or by a socket of the test (framing, closes, the connection table).
#include "Principal.h"

#include "Readingfile.h"
#include "Servidorrede.h"
#include "leituracifrada.h"
#include "simulador.h"
#include "testsupport.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <sys/stat.h>

namespace {

constexpr int kLeituraMs = 30000;

std::string configuracao(int tcp, const std::string& caminho, bool noMsg) {
    return "MODELOTRACER=1\r\nPORTATCP=" + std::to_string(tcp) +
           "\r\nPORTASERIAL=\r\nBAUDRATE=9600\r\nCAMINHOLEITURA=" + caminho +
           "\r\nNOMSG=" + (noMsg ? "1" : "0") + "\r\n";
}

quint16 portaLivre() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

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

class TestRede : public QObject {
    Q_OBJECT

private:
    QStringList m_mensagens;
    std::unique_ptr<ScratchDir> m_dir;
    std::unique_ptr<TformPrincipal> m_janela;
    quint16 m_porta = 0;

    std::string leituras() const { return m_dir->file("leituras"); }
    void abrir(bool noMsg = false) {
        m_porta = portaLivre();
        writeFileBytes(m_dir->file("ini/krvw.ini"), configuracao(m_porta, leituras(), noMsg));
        m_janela->setCaminhoIni(m_dir->file("ini/krvw.ini"));
        m_janela->show();
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
    void compararLeitura(const std::string& arquivo, const char* esperado) {
        const std::string diferenca =
            diferencaDaLeitura(arquivo, std::string("serial/") + esperado);
        QVERIFY2(diferenca.empty(), diferenca.c_str());
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
    QString realista() const {
        return QString::fromStdString(testDataPath("reading/realistic.labels"));
    }

private slots:
    void init() {
        m_mensagens.clear();
        setMessageFunctionForTesting([this](const QString& text) { m_mensagens << text; });
        m_dir = std::make_unique<ScratchDir>();
        QVERIFY(mkdir(m_dir->file("ini").c_str(), 0700) == 0);
        QVERIFY(mkdir(leituras().c_str(), 0700) == 0);
        m_janela = std::make_unique<TformPrincipal>();
    }
    void cleanup() {
        m_janela.reset();
        m_dir.reset();
        setMessageFunctionForTesting(nullptr);
    }

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
    const std::string arquivo = leituras() + "/815.krvw";
    QVERIFY(fileExists(arquivo));
    QCOMPARE(listDir(leituras()).size(), std::size_t{1});
    compararLeitura(arquivo, esperado.toLatin1().constData());
    QCOMPARE(m_mensagens, QStringList{QString::fromUtf8(kMessageSaveSucceeded)});
}

void TestRede::duasLeiturasNaMesmaConexao() {
    abrir(true);
    QCOMPARE(simular({QStringLiteral("--model"), QStringLiteral("1"), QStringLiteral("--labels"),
                      realista(), QStringLiteral("--count"), QStringLiteral("2")}),
             QStringLiteral("RESULT OK readings=2"));
    compararLeitura(leituras() + "/815.krvw", "network.expected");
    compararLeitura(leituras() + "/816.krvw", "network.expected");
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
    writeFileBytes(m_dir->file("ini/krvw.ini"),
                   configuracao(outro.serverPort(), leituras(), false));
    m_janela->setCaminhoIni(m_dir->file("ini/krvw.ini"));
    m_janela->show();
    QTRY_COMPARE(m_mensagens, QStringList{QString::fromUtf8(kMensagemServidor)});
    QVERIFY(!m_janela->servidor().isListening());
}

QTEST_MAIN(TestRede)
#include "test_rede.moc"
