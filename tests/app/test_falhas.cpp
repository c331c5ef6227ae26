// Faults around the main window, each with the outcome the user is promised
// and nothing lost: a reading folder that is removed, read-only or full, or
// whose disk fails on write, flush, close or rename (the reading kept in the
// pending folder, the clipboard emptied); an ini folder that cannot
// be written and configuration files that are damaged; a serial port another
// program holds; networked peers that misbehave while a good tracer is being
// served. (A serial tracer unplugged, stopping half-way or flooding the line is
// a capture replayed by replay_tests.)
#include "Principal.h"

#include "Atomicfile.h"
#include "Conexoesrede.h"
#include "Parametros.h"
#include "Readingfile.h"
#include "Servidorrede.h"
#include "janelateste.h"
#include "leituracifrada.h"
#include "simulador.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A serial reading runs inside the button's handler or on the 500 ms timer; a
// slow sanitizer build needs more than a fast one.
constexpr int kLeituraMs = 60000;
constexpr int kConexoesEmLaco = 200;
// The reading folder as a small tmpfs: an older file and then filler up to the
// last byte, so that not even one page is left for the new reading file.
const char* const kTamanhoTmpfs = "size=64k";
const char* const kAreaAntes = "o que estava na área de transferência";
const char* const kLeituraAntiga = "uma leitura anterior, que não pode ser perdida";
const char* const kArquivoPadrao = "MODELOTRACER=1\r\nPORTATCP=55555\r\nPORTASERIAL=\r\n"
                                   "BAUDRATE=9600\r\nCAMINHOLEITURA=\r\nNOMSG=0\r\n";

QStringList lista(const std::string& pasta) {
    QStringList nomes;
    for (const std::string& nome : listDir(pasta))
        nomes << QString::fromStdString(nome);
    return nomes;
}

QString texto(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// A mount made for one test and undone when the object goes, whatever the outcome.
class Montagem {
public:
    ~Montagem() {
        if (!m_alvo.empty())
            umount2(m_alvo.c_str(), MNT_DETACH);
    }
    // `pasta` bound onto itself read-only: the only way to refuse root a write.
    bool somenteLeitura(const std::string& pasta, QString& motivo) {
        if (mount(pasta.c_str(), pasta.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return falhou("bind mount", motivo);
        m_alvo = pasta;
        if (mount(nullptr, pasta.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            return falhou("read-only remount", motivo);
        return true;
    }
    bool tmpfs(const std::string& pasta, QString& motivo) {
        if (mount("tmpfs", pasta.c_str(), "tmpfs", 0, kTamanhoTmpfs) != 0)
            return falhou("tmpfs mount", motivo);
        m_alvo = pasta;
        return true;
    }

private:
    static bool falhou(const char* oque, QString& motivo) {
        motivo = QStringLiteral("%1 refused (%2)").arg(QLatin1String(oque), qt_error_string(errno));
        return false;
    }
    std::string m_alvo;
};

// The folder refuses new files: permissions where they bind (not root), else a
// read-only mount. False, with the reason, where neither can be had.
bool tornarSomenteLeitura(const std::string& pasta, Montagem& montagem, QString& motivo) {
    if (geteuid() != 0)
        return chmod(pasta.c_str(), 0500) == 0;
    if (montagem.somenteLeitura(pasta, motivo))
        return true;
    motivo = QStringLiteral("root bypasses the folder's permissions and ") + motivo;
    return false;
}

// Fills the file system of `pasta` to the last byte.
void encher(const std::string& pasta) {
    const int fd = open((pasta + "/enchimento").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::string bloco(4096, 'x');
    while (fd >= 0 && write(fd, bloco.data(), bloco.size()) > 0) {
    }
    while (fd >= 0 && write(fd, "x", 1) > 0) {
    }
    if (fd >= 0)
        close(fd);
}

// The disk failing under the writer, one call at a time. The write takes ten
// bytes and then finds the disk full, leaving a part of the file behind.
int g_escritas = 0;
ssize_t escritaSemEspaco(int fd, const void* data, size_t size) {
    if (g_escritas++ == 0)
        return ::write(fd, data, size > 10 ? 10 : size);
    errno = ENOSPC;
    return -1;
}
int fsyncFalha(int fd) {
    static_cast<void>(fd);
    errno = EIO;
    return -1;
}
int fechamentoFalha(int fd) {
    ::close(fd);
    errno = EIO;
    return -1;
}
int renomeacaoFalha(const char* de, const char* para) {
    static_cast<void>(de);
    static_cast<void>(para);
    errno = EXDEV;
    return -1;
}

} // namespace

class TestFalhas : public QObject, public JanelaDeTeste {
    Q_OBJECT

private:
    std::unique_ptr<Montagem> m_montagem;
    quint16 m_porta = 0;
    int m_descritores = 0; // open descriptors with the window serving, before the fault

    // The window serving networked tracers on a free port, readings into `caminho`.
    void abrirRede(const std::string& caminho, bool noMsg) {
        m_porta = portaLivre();
        writeFileBytes(ini(), configuracao(1, "", m_porta, caminho, noMsg));
        mostrar();
        QTRY_VERIFY(m_janela->servidor().isListening());
        QVERIFY2(m_mensagens.isEmpty(), qPrintable(m_mensagens.join(QLatin1Char('|'))));
        m_descritores = descritoresAbertos();
    }
    void abrirSerial(int modelo, const std::string& porta) {
        writeFileBytes(ini(), configuracao(modelo, porta, 55555, leituras()));
        mostrar();
        QVERIFY2(m_mensagens.isEmpty(), qPrintable(m_mensagens.join(QLatin1Char('|'))));
    }
    QStringList argumentosDeRede(const QStringList& mais) const {
        return QStringList{QStringLiteral("--model"), QStringLiteral("1"), QStringLiteral("--port"),
                           QString::number(m_porta), QStringLiteral("--quiet")} +
               mais;
    }
    // One networked reading of the realistic tracing, job 00815; the simulator's last line.
    QString leituraDeRede() {
        Simulador tracer;
        if (!tracer.iniciar(caminhoDoSimulador(),
                            argumentosDeRede({QStringLiteral("--labels"), realista()}), false))
            return QStringLiteral("not started");
        return tracer.resultado(kLeituraMs);
    }
    // A reading that could not be written in the folder: the message naming
    // the folder and where the reading was kept (`guardada`: byte for byte in
    // the pending folder) or that it could not be, the clipboard emptied, the
    // folder as it was (no partial or temporary file) and no descriptor left
    // open once the tracer has gone.
    void conferirGravacaoRecusada(const QStringList& conteudo, bool guardada) {
        QTRY_COMPARE(descritoresAbertos(), m_descritores);
        QCOMPARE(m_mensagens.size(), 1);
        const QString& mensagem = m_mensagens[0];
        const std::string pendente = m_casa->pending() + "/815.krvw";
        QVERIFY2(mensagem.startsWith(texto(kMessageSaveFailed) + QStringLiteral("\n\nPasta: ") +
                                     QString::fromStdString(leituras()) +
                                     QStringLiteral("/\nMotivo: ")),
                 qPrintable(mensagem));
        if (guardada) {
            QVERIFY2(mensagem.endsWith(QStringLiteral("\n\nA leitura foi guardada em ") +
                                       QString::fromStdString(pendente) +
                                       QStringLiteral(". Copie-a para a pasta de leituras quando "
                                                      "o acesso for corrigido.")),
                     qPrintable(mensagem));
            const std::string diferenca = diferencaDaLeitura(pendente, "serial/network.expected");
            QVERIFY2(diferenca.empty(), diferenca.c_str());
        } else {
            QVERIFY2(
                mensagem.contains(QStringLiteral("A leitura também não pôde ser guardada em ")),
                qPrintable(mensagem));
            QVERIFY(!fileExists(pendente));
        }
        QCOMPARE(QApplication::clipboard()->text(), QString());
        QCOMPARE(lista(leituras()), conteudo);
        if (conteudo.contains(QStringLiteral("815.krvw")))
            QCOMPARE(readFileBytes(leituras() + "/815.krvw"), std::string(kLeituraAntiga));
    }
    // Every slot of the connection table free, and ten new tracers all served.
    void dezConexoesAtendidas() {
        QTRY_COMPARE_WITH_TIMEOUT(slotsEmUso(), 0, 10000);
        QTcpSocket dez[kSlotsDeConexao];
        for (QTcpSocket& tracer : dez) {
            tracer.connectToHost(QHostAddress::LocalHost, m_porta);
            QTRY_COMPARE(tracer.state(), QAbstractSocket::ConnectedState);
        }
        for (QTcpSocket& tracer : dez) {
            tracer.write(mensagemDeRede(0x16, 1, 7, 9));
            QTRY_VERIFY(tracer.bytesAvailable() >= 12);
            QCOMPARE(tracer.read(12), mensagemDeRede(0x17, 2, 9, 7));
        }
    }
    void conectarEDesconectarEnquanto(Simulador& bom, int minimo, int& feitas);

private slots:
    void init() {
        QApplication::clipboard()->setText(texto(kAreaAntes));
        criarJanela();
        m_montagem = std::make_unique<Montagem>();
    }
    void cleanup() {
        setFileSystemCallsForTesting(nullptr);
        m_janela.reset();
        m_montagem.reset();
        destruirJanela();
    }

    void pastaRemovidaEntreDuasLeituras();
    void pastaDeLeituraSomenteLeitura();
    void pastaDeLeituraCheia();
    void discoFalhaAoGravar_data();
    void discoFalhaAoGravar();
    void pastaIniSomenteLeitura_data();
    void pastaIniSomenteLeitura();
    void arquivoDeParametrosDanificado_data();
    void arquivoDeParametrosDanificado();
    void portaSerialRecusada_data();
    void portaSerialRecusada();
    void portaSerialDesconectadaEReconectada();
    void pareDeRedeMalComportado_data();
    void pareDeRedeMalComportado();
};

// The folder removed between two readings: the first reading's path leaves
// the clipboard, and the second reading, which the tracer has let go, is kept.
void TestFalhas::pastaRemovidaEntreDuasLeituras() {
    abrirRede(leituras(), false);
    QCOMPARE(leituraDeRede(), QStringLiteral("RESULT OK readings=1"));
    QCOMPARE(QApplication::clipboard()->text(), QString::fromStdString(leituras() + "/815.krvw"));
    std::filesystem::remove_all(leituras());
    m_mensagens.clear();
    QCOMPARE(leituraDeRede(), QStringLiteral("RESULT OK readings=1"));
    conferirGravacaoRecusada({}, true);
    QVERIFY(m_mensagens[0].contains(QStringLiteral("\nMotivo: a pasta não existe.\n")));
}

void TestFalhas::pastaDeLeituraSomenteLeitura() {
    writeFileBytes(leituras() + "/815.krvw", kLeituraAntiga);
    QString motivo;
    if (!tornarSomenteLeitura(leituras(), *m_montagem, motivo))
        QSKIP(qPrintable(motivo));
    abrirRede(leituras(), false);
    QCOMPARE(leituraDeRede(), QStringLiteral("RESULT OK readings=1"));
    conferirGravacaoRecusada({QStringLiteral("815.krvw")}, true);
}

// A small file system to fill is a tmpfs mount: a user other than root runs
// this test again in a child process as root of a user namespace of its own.
void TestFalhas::pastaDeLeituraCheia() {
    if (geteuid() != 0) {
        QProcess filho;
        filho.setProcessChannelMode(QProcess::MergedChannels);
        filho.start(QStringLiteral("unshare"),
                    {QStringLiteral("--map-root-user"), QStringLiteral("--mount"),
                     QCoreApplication::applicationFilePath(),
                     QStringLiteral("pastaDeLeituraCheia")});
        QVERIFY(filho.waitForFinished(kLeituraMs));
        const QString saida = QString::fromLocal8Bit(filho.readAll());
        if (saida.startsWith(QStringLiteral("unshare:")) || saida.contains(QStringLiteral("SKIP")))
            QSKIP(qPrintable(saida)); // no user namespaces here, or no tmpfs in them
        QVERIFY2(filho.exitStatus() == QProcess::NormalExit && filho.exitCode() == 0,
                 qPrintable(saida));
        return;
    }
    QString motivo;
    if (!m_montagem->tmpfs(leituras(), motivo))
        QSKIP(qPrintable(motivo));
    writeFileBytes(leituras() + "/815.krvw", kLeituraAntiga);
    encher(leituras());
    abrirRede(leituras(), false);
    QCOMPARE(leituraDeRede(), QStringLiteral("RESULT OK readings=1"));
    conferirGravacaoRecusada({QStringLiteral("815.krvw"), QStringLiteral("enchimento")}, true);
}

void TestFalhas::discoFalhaAoGravar_data() {
    QTest::addColumn<int>("passo");
    QTest::addColumn<bool>("guardada"); // the pending folder's disk fails the same way, but for
                                        // the rename: a kept reading takes its name by a link
    QTest::addRow("disco cheio depois de 10 bytes") << 0 << false;
    QTest::addRow("fsync com erro de E/S") << 1 << false;
    QTest::addRow("fechamento com erro de E/S") << 2 << false;
    QTest::addRow("renomeacao recusada") << 3 << true;
}

// The writer's own seam: the step that fails is the only one replaced. Once
// the disk is well again, the next reading replaces the older file.
void TestFalhas::discoFalhaAoGravar() {
    QFETCH(int, passo);
    QFETCH(bool, guardada);
    writeFileBytes(leituras() + "/815.krvw", kLeituraAntiga);
    abrirRede(leituras(), false);
    FileSystemCalls chamadas = {::write, ::fsync, ::close, ::rename};
    if (passo == 0)
        chamadas.write = escritaSemEspaco;
    else if (passo == 1)
        chamadas.fsync = fsyncFalha;
    else if (passo == 2)
        chamadas.close = fechamentoFalha;
    else
        chamadas.rename = renomeacaoFalha;
    g_escritas = 0;
    setFileSystemCallsForTesting(&chamadas);
    QCOMPARE(leituraDeRede(), QStringLiteral("RESULT OK readings=1"));
    setFileSystemCallsForTesting(nullptr);
    conferirGravacaoRecusada({QStringLiteral("815.krvw")}, guardada);
    if (QTest::currentTestFailed())
        return;

    m_mensagens.clear();
    QCOMPARE(leituraDeRede(), QStringLiteral("RESULT OK readings=1"));
    QCOMPARE(m_mensagens, QStringList{texto(kMessageSaveSucceeded)});
    compararLeitura("815.krvw", "network.expected");
    QCOMPARE(lista(leituras()), QStringList{QStringLiteral("815.krvw")});
    QCOMPARE(QApplication::clipboard()->text(), QString::fromStdString(leituras() + "/815.krvw"));
}

void TestFalhas::pastaIniSomenteLeitura_data() {
    QTest::addColumn<QString>("arquivo"); // "-" for none
    QTest::addColumn<QStringList>("mensagens");
    const QString m1 = texto(kMessageParametrosInvalidos);
    const QString m2 = texto(kMessageParametrosNaoGravados);
    const QString semParametros = texto(kMensagemSemParametros);
    QTest::addRow("arquivo valido") << QStringLiteral("valido") << QStringList{};
    QTest::addRow("arquivo invalido") << QStringLiteral("MODELOTRACER=2\r\nPORTATCP=abc\r\n")
                                      << QStringList{m1, m2, semParametros};
    QTest::addRow("sem arquivo") << QStringLiteral("-") << QStringList{m2, semParametros};
}

// A folder the program may read but not write: a valid file is used as it is;
// anything else ends, after the messages, with no configuration in force and
// the folder as it was.
void TestFalhas::pastaIniSomenteLeitura() {
    QFETCH(QString, arquivo);
    QFETCH(QStringList, mensagens);
    m_porta = portaLivre();
    std::string conteudo;
    if (arquivo == QStringLiteral("valido"))
        conteudo = configuracao(1, "", m_porta, leituras());
    else if (arquivo != QStringLiteral("-"))
        conteudo = arquivo.toStdString();
    if (!conteudo.empty())
        writeFileBytes(ini(), conteudo);
    QString motivo;
    if (!tornarSomenteLeitura(m_dir->file("ini"), *m_montagem, motivo))
        QSKIP(qPrintable(motivo));
    mostrar();
    QTRY_COMPARE(m_mensagens, mensagens);
    QCOMPARE(m_janela->servidor().isListening(), mensagens.isEmpty());
    if (mensagens.isEmpty())
        QCOMPARE(m_janela->servidor().serverPort(), m_porta);
    QCOMPARE(lista(m_dir->file("ini")),
             conteudo.empty() ? QStringList{} : QStringList{QStringLiteral("krvw.ini")});
    if (!conteudo.empty())
        QCOMPARE(readFileBytes(ini()), conteudo);
}

void TestFalhas::arquivoDeParametrosDanificado_data() {
    QTest::addColumn<QByteArray>("arquivo");
    QByteArray lixo;
    for (int i = 0; i < 300; ++i) // every byte value, NUL, CR, LF and '=' among them
        lixo.append(static_cast<char>((i * 37 + 11) & 0xFF));
    QTest::addRow("lixo binario") << lixo;
    const QByteArray cabeca("MODELOTRACER=3\r\nPORTATCP=1\r\nPORTASERIAL=\r\nBAUDRATE=9600\r\n"
                            "CAMINHOLEITURA=/x\r\nNOMSG=0\r\nX=");
    const QByteArray longo = cabeca + QByteArray(1025 - cabeca.size() - 2, 'y') + "\r\n";
    QTest::addRow("1025 bytes") << longo;
    QTest::addRow("cortado no meio de uma linha")
        << QByteArray("MODELOTRACER=2\r\nPORTATCP=1\r\nPORTASER");
}

// Through the window: the invalid-file message alone, the file replaced by the
// defaults, and the window serving on the default port as on a first start.
void TestFalhas::arquivoDeParametrosDanificado() {
    QFETCH(QByteArray, arquivo);
    if (arquivo.size() > 1000)
        QCOMPARE(arquivo.size(), 1025);
    writeFileBytes(ini(), arquivo.toStdString());
    mostrar();
    QTRY_COMPARE(m_mensagens, QStringList{texto(kMessageParametrosInvalidos)});
    QCOMPARE(readFileBytes(ini()), std::string(kArquivoPadrao));
    QCOMPARE(lista(m_dir->file("ini")), QStringList{QStringLiteral("krvw.ini")});
    QCOMPARE(m_janela->findChild<QLabel*>(QStringLiteral("lblTracer"))->text(),
             QStringLiteral("Dispositivos: NIDEK LT1000/LT1200/ICE (rede)"));
    QVERIFY(m_janela->servidor().isListening());
    QCOMPARE(m_janela->servidor().serverPort(), quint16{55555});
}

void TestFalhas::portaSerialRecusada_data() {
    QTest::addColumn<int>("falha");
    QTest::addColumn<QString>("causa");
    QTest::addRow("presa por outro programa")
        << 0 << texto("em uso por outro programa ou pela sessão de outro usuário");
    QTest::addRow("sem permissao") << 1
                                   << texto("sem permissão: o usuário precisa pertencer ao "
                                            "grupo dialout (depois de incluído, saia da "
                                            "sessão e entre de novo)");
    QTest::addRow("pseudo-terminal trancado") << 2 << QStringLiteral("Input/output error");
}

// A DCS tracer's port that does not open is said once, with its cause, and
// taken by itself a few seconds after the cause is gone; the LT980 reading
// keeps its number, the cause added to its detail.
void TestFalhas::portaSerialRecusada() {
    QFETCH(int, falha);
    QFETCH(QString, causa);
    int outro = -1;
    auto trancada = std::make_unique<LockedListedPort>("ttyKRVWTRANCADA");
    QVERIFY(trancada->ok());
    std::string porta = m_serial->path();
    if (falha == 0) { // flock, as this program does: root is kept out too
        outro = open(porta.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        QCOMPARE(flock(outro, LOCK_EX | LOCK_NB), 0);
    } else if (falha == 1) {
        SetOpenRefusalForTesting(EACCES); // root is never refused
    } else {
        porta = trancada->path();
    }
    writeFileBytes(ini(), configuracao(2, porta, 55555, leituras()));
    mostrar();
    const QStringList dita{MensagemPortaNaoAbriu(porta, causa.toStdString())};
    QCOMPARE(m_mensagens, dita);
    QVERIFY(!m_janela->portaTimer().isOpen());
    QVERIFY(m_janela->findChild<QLabel*>(QStringLiteral("lblSituacao"))
                ->toolTip()
                .startsWith(texto("sem conexão")));

    if (falha == 0) {
        writeFileBytes(ini(), configuracao(0, porta, 55555, leituras()));
        m_janela->AplicarParametros();
        QTest::mouseClick(botao("btnLeituraSerial"), Qt::LeftButton);
        QCOMPARE(m_mensagens.last(),
                 texto("Houve um problema na leitura (10,010):\n\n - Erro na inicialização da "
                       "conexão com o Tracer. Porta ") +
                     QString::fromStdString(porta) + QStringLiteral(": ") + causa +
                     texto(".\n\nReinicie o Tracer, efetue uma nova leitura e tente novamente."));
        QVERIFY(lista(leituras()).isEmpty());
        writeFileBytes(ini(), configuracao(2, porta, 55555, leituras()));
        m_janela->AplicarParametros(); // a new apply says it again
        QCOMPARE(m_mensagens.last(), dita.first());
        close(outro);
    } else if (falha == 1) {
        SetOpenRefusalForTesting(0);
    } else {
        trancada.reset();
        QVERIFY(symlink(m_serial->terminal().slavePath().c_str(), porta.c_str()) == 0);
    }
    QTRY_VERIFY_WITH_TIMEOUT(m_janela->portaTimer().isOpen(), 4 * kIntervaloReaberturaMs);
    QCOMPARE(m_janela->findChild<QLabel*>(QStringLiteral("lblSituacao"))->toolTip(),
             QStringLiteral("Porta: ") + QString::fromStdString(porta));
    QVERIFY(m_janela->timerSerial().isActive());
    QCOMPARE(m_mensagens.size(), falha == 0 ? 3 : 1); // the return is not a box
    if (falha == 2)
        unlink(porta.c_str());
}

// The adapter pulled (its terminal gone, its link removed) and plugged back
// (the same link to a new terminal): the loss said once, the port taken again
// by itself, and the tracer answered.
void TestFalhas::portaSerialDesconectadaEReconectada() {
    const std::string porta = m_serial->path();
    abrirSerial(2, porta);
    QVERIFY(m_janela->portaTimer().isOpen());
    m_serial.reset();
    QTRY_COMPARE(m_mensagens, QStringList{MensagemPortaPerdida(porta)});
    QVERIFY(!m_janela->portaTimer().isOpen());
    m_serial = std::make_unique<ListedPort>();

    QCOMPARE(m_serial->path(), porta);
    QTRY_VERIFY_WITH_TIMEOUT(m_janela->portaTimer().isOpen(), 4 * kIntervaloReaberturaMs);
    QVERIFY(m_serial->terminal().sendNow("\x1cREQ=INI\r\n\x1d"));
    std::string resposta;
    QTRY_VERIFY_WITH_TIMEOUT((resposta += m_serial->terminal().receivedRest(1)).find("ANS=INI") !=
                                 std::string::npos,
                             kLeituraMs);
    QCOMPARE(m_mensagens.size(), 1);
}

void TestFalhas::pareDeRedeMalComportado_data() {
    QTest::addColumn<QString>("falha"); // empty: the test's own socket loop
    QTest::addColumn<QStringList>("mensagens");
    QTest::addRow("desconecta no meio da mensagem")
        << QStringLiteral("disconnect-mid") << QStringList{};
    // The noise's first twelve bytes are no header: the connection is ended.
    QTest::addRow("10 MB de lixo")
        << QStringLiteral("garbage") << QStringList{texto(kMensagemInconsistencia)};
    QTest::addRow("conexao aberta e calada") << QStringLiteral("silent") << QStringList{};
    QTest::addRow("conecta e desconecta em laco") << QString() << QStringList{};
}

// A bad peer and a good tracer at the same time: every reading of the good
// one saved exactly, the bad one's outcome as promised, and then all ten
// slots free and serving.
void TestFalhas::pareDeRedeMalComportado() {
    QFETCH(QString, falha);
    QFETCH(QStringList, mensagens);
    abrirRede(leituras(), true);
    constexpr int kLeiturasBoas = 20;
    Simulador mau;
    if (!falha.isEmpty()) {
        // A job of its own: nothing of it may reach a file.
        QVERIFY(mau.iniciar(caminhoDoSimulador(),
                            argumentosDeRede({QStringLiteral("--fault"), falha,
                                              QStringLiteral("--job"), QStringLiteral("77777"),
                                              QStringLiteral("--wait-ms"), QStringLiteral("4000")}),
                            false));
        QTRY_VERIFY(mau.conectado() || mau.terminou());
    }
    Simulador bom;
    QVERIFY(bom.iniciar(
        caminhoDoSimulador(),
        argumentosDeRede({QStringLiteral("--labels"), realista(), QStringLiteral("--pair"),
                          QStringLiteral("--count"), QString::number(kLeiturasBoas)}),
        false));
    int conexoes = 0;
    if (falha.isEmpty())
        conectarEDesconectarEnquanto(bom, kConexoesEmLaco, conexoes);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(bom.resultado(kLeituraMs), QStringLiteral("RESULT OK readings=%1").arg(kLeiturasBoas));
    if (!falha.isEmpty())
        QCOMPARE(mau.resultado(kLeituraMs), QStringLiteral("RESULT OK fault=") + falha);
    else
        QVERIFY(conexoes >= kConexoesEmLaco);
    QStringList esperados;
    for (int job = 815; job < 815 + kLeiturasBoas; ++job) {
        esperados << QStringLiteral("%1.krvw").arg(job);
        compararLeitura(std::to_string(job) + ".krvw", "network.expected");
    }
    esperados.sort();
    QCOMPARE(lista(leituras()), esperados);
    QCOMPARE(m_mensagens, mensagens);
    dezConexoesAtendidas();
    if (QTest::currentTestFailed())
        return;
    QTRY_COMPARE(descritoresAbertos(), m_descritores); // every connection's socket closed
}

// Connects and drops (half by an orderly close, half by a reset) while the good
// tracer runs, and at least `minimo` times.
void TestFalhas::conectarEDesconectarEnquanto(Simulador& bom, int minimo, int& feitas) {
    while (feitas < minimo || !bom.terminou()) {
        QTcpSocket pare;
        pare.connectToHost(QHostAddress::LocalHost, m_porta);
        QTRY_COMPARE(pare.state(), QAbstractSocket::ConnectedState);
        if (feitas % 2 == 0)
            pare.disconnectFromHost();
        else
            pare.abort();
        ++feitas;
        QTest::qWait(1);
    }
}

QTEST_MAIN(TestFalhas)
#include "test_falhas.moc"
