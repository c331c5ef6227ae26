// Captures of a tracer's conversation (docs/captures.md) replayed through the
// main window, one capture a run: `replay_tests CAPTURE` starts the window with
// the capture's model configured, lets krvw-tracer-sim --replay play the
// tracer's side at once (it checks every byte the program sends), and compares what
// the program did with the .outcome beside the capture (tests/data/captures/README.md),
// the window's picture with krvw-tool render of the capture where it says so.
// Every message is a real box, answered only once the tracer is done.
// `replay_tests --record CAPTURE MODEL [simulator options]` makes a capture the
// same way, the simulator playing the model and recording, and prints what the
// program did. Without arguments it checks that every capture has its outcome.
#include "Principal.h"

#include "Simcapture.h"
#include "caixas.h"
#include "janelateste.h"
#include "leituracifrada.h"
#include "simulador.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QProcess>
#include <QTcpServer>
#include <QtTest>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

// The slowest capture keeps a few silences of 6.5 s; the program may still be
// waiting for the tracer when it begins.
constexpr int kReplayMs = 240000;
constexpr int kAfterMs = 15000; // the program's last step after the tracer's last line
constexpr int kQuietMs = 1000;  // and nothing more after it

QStringList g_argumentos; // the runner's own: a capture, or --record and the rest

// What the program must do: write one reading file with the text of a golden
// (or none), and show these messages, each given by its start, in order; then
// the capture played next in the same window, if any.
struct Desfecho {
    std::string arquivo;
    std::string golden; // under tests/data
    QStringList mensagens;
    std::string seguinte; // a capture's name in the same folder
    bool noRitmo = false; // played at the recorded pace (chunks that must arrive apart)
    bool figura = false;  // krvw-tool render of the capture draws the window's picture
};

// Any text the program would not put on the clipboard.
const char* const kAreaAntes = "o que estava na área de transferência";

std::string semExtensao(const std::string& caminho) {
    return caminho.substr(0, caminho.rfind('.'));
}

// The model its header names (read as the simulator reads it); -1 for none.
int modeloDaCaptura(const std::string& caminho) {
    int modelo = -1;
    std::string erro;
    return sim::captureModel(caminho, modelo, erro) ? modelo : -1;
}

// The capture's .outcome; false when it is missing or has a line of no kind.
bool lerDesfecho(const std::string& captura, Desfecho& desfecho, std::string& erro) {
    const std::string caminho = semExtensao(captura) + ".outcome";
    std::ifstream arquivo(caminho);
    if (!arquivo) {
        erro = caminho + " is missing";
        return false;
    }
    std::string linha;
    while (std::getline(arquivo, linha)) {
        std::istringstream campos(linha);
        std::string tipo;
        campos >> tipo;
        if (tipo == "file" && (campos >> desfecho.arquivo >> desfecho.golden) &&
            !readFileBytes(testDataPath(desfecho.golden)).empty())
            continue;
        if (tipo == "message" && linha.size() > 8) {
            desfecho.mensagens << QString::fromStdString(linha.substr(8))
                                      .replace(QLatin1String("\\n"), QLatin1String("\n"));
            continue;
        }
        if (tipo == "next" && (campos >> desfecho.seguinte))
            continue;
        if (tipo == "slow") // for the build: make check leaves it out
            continue;
        if (tipo == "paced") {
            desfecho.noRitmo = true;
            continue;
        }
        if (tipo == "picture") {
            desfecho.figura = true;
            continue;
        }
        if (!tipo.empty() && tipo[0] != '#') {
            erro = caminho + ": no golden text, or a line of no kind: " + linha;
            return false;
        }
    }
    return true;
}

} // namespace

class TestCapturas : public QObject, public JanelaDeTeste {
    Q_OBJECT

private:
    // The simulator with `opcoes` as the tracer `modelo` against the window,
    // configured for it unless it is shown already (a capture played next),
    // "Leitura" pressed where the model needs it; its last line.
    void tocar(int modelo, const QStringList& opcoes, QString& resultado) {
        Simulador tracer;
        const TracerChannel canal = kTracerModels[static_cast<std::size_t>(modelo)].channel;
        const bool mostrada = m_janela->isVisible();
        if (canal == TracerChannel::TcpServer) {
            if (!mostrada) {
                m_porta = portaLivre();
                mostrar(configuracao(modelo, "", m_porta, leituras()));
            }
            QTRY_VERIFY(m_janela->servidor().isListening());
            QVERIFY(tracer.iniciar(caminhoDoSimulador(),
                                   opcoes + QStringList{"--model", QString::number(modelo),
                                                        "--port", QString::number(m_porta)},
                                   false));
        } else {
            QVERIFY2(tracer.iniciarSerial(modelo, opcoes), qPrintable(tracer.saida()));
            if (!mostrada)
                mostrar(configuracao(modelo, tracer.porta, 55555, leituras()));
            if (canal == TracerChannel::ReadOnClick || canal == TracerChannel::TimerOnClick) {
                QVERIFY(botao("btnLeituraSerial")->isEnabled());
                const int descritores = descritoresAbertos();
                QTest::mouseClick(botao("btnLeituraSerial"), Qt::LeftButton);
                // A reading held in the click closes its port again, whatever happened.
                if (canal == TracerChannel::ReadOnClick)
                    QCOMPARE(descritoresAbertos(), descritores);
            }
        }
        m_tracerEmCurso = true;
        resultado = tracer.resultado(kReplayMs);
        m_tracerEmCurso = false;
        if (!resultado.startsWith(QStringLiteral("RESULT OK")))
            qWarning("%s", qPrintable(tracer.saida()));
    }
    // The outcome, once it has shown (or the time is over) and nothing more came.
    void esperar(const Desfecho& desfecho) {
        QTRY_VERIFY_WITH_TIMEOUT(
            m_caixas->textos.size() >= desfecho.mensagens.size() &&
                (desfecho.arquivo.empty() || fileExists(leituras() + "/" + desfecho.arquivo)),
            kAfterMs);
        QTest::qWait(kQuietMs);
        QTRY_VERIFY(RespondedorDeCaixas::nenhumaAberta());
    }
    // One capture replayed and its outcome compared, then the one it names next.
    void replay(const std::string& captura);
    void compararFigura(const std::string& captura);
    void gravar();
    void conferirDados();

    quint16 m_porta = 0;
    // The lab's way: every message in a real box, answered only once the
    // tracer is done, so that the program must serve it with a box open.
    std::unique_ptr<RespondedorDeCaixas> m_caixas;
    bool m_tracerEmCurso = false;

private slots:
    void init() {
        QApplication::clipboard()->setText(QString::fromUtf8(kAreaAntes));
        criarJanela();
        setMessageFunctionForTesting(nullptr);
        m_caixas = std::make_unique<RespondedorDeCaixas>(0, [this] { return !m_tracerEmCurso; });
    }
    void cleanup() {
        destruirJanela();
        m_caixas.reset();
    }
    void captura() {
        if (g_argumentos.isEmpty())
            conferirDados();
        else if (g_argumentos[0] == QStringLiteral("--record"))
            gravar();
        else
            replay(g_argumentos[0].toStdString());
    }
};

void TestCapturas::replay(const std::string& captura) {
    Desfecho desfecho;
    std::string erro;
    QVERIFY2(lerDesfecho(captura, desfecho, erro), erro.c_str());
    const int modelo = modeloDaCaptura(captura);
    QVERIFY2(tracerModel(modelo) != nullptr, "the capture names no model");
    m_caixas->textos.clear();
    QString resultado;
    QStringList opcoes{"--replay", QString::fromStdString(captura)};
    if (!desfecho.noRitmo)
        opcoes << "--no-pace";
    tocar(modelo, opcoes, resultado);
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(resultado.startsWith(QStringLiteral("RESULT OK replay=")), qPrintable(resultado));
    esperar(desfecho);
    const QStringList& textos = m_caixas->textos;
    const QString mensagens = textos.join(QStringLiteral("\n---\n"));
    QVERIFY2(textos.size() == desfecho.mensagens.size(), qPrintable(mensagens));
    for (qsizetype i = 0; i < textos.size(); ++i)
        QVERIFY2(textos[i].startsWith(desfecho.mensagens[i]), qPrintable(mensagens));
    QVERIFY(m_caixas->maisAbertas <= 1); // one at a time
    // A saved reading's path is on the clipboard; else the clipboard is as it was.
    const QString area = QApplication::clipboard()->text();
    if (desfecho.arquivo.empty()) {
        QVERIFY(listDir(leituras()).empty());
        QCOMPARE(area, QString::fromUtf8(kAreaAntes));
    } else {
        const std::string caminho = leituras() + "/" + desfecho.arquivo;
        QCOMPARE(listDir(leituras()).size(), std::size_t{1});
        QCOMPARE(area, QString::fromStdString(caminho));
        const std::string diferenca = diferencaDaLeitura(caminho, desfecho.golden);
        QVERIFY2(diferenca.empty(), diferenca.c_str());
        QCOMPARE(std::remove(caminho.c_str()), 0); // the next capture's folder is empty again
        QApplication::clipboard()->setText(QString::fromUtf8(kAreaAntes));
    }
    if (desfecho.figura)
        compararFigura(captura);
    if (!desfecho.seguinte.empty() && !QTest::currentTestFailed())
        replay(captura.substr(0, captura.rfind('/') + 1) + desfecho.seguinte);
}

// The window's picture, pixel for pixel, is what krvw-tool render draws of the capture.
void TestCapturas::compararFigura(const std::string& captura) {
    const QString png = QString::fromStdString(m_dir->file("figura.png"));
    QProcess ferramenta;
    ferramenta.start(QStringLiteral(KRVW_TOOL),
                     {QStringLiteral("render"), QString::fromStdString(captura), png});
    QVERIFY(ferramenta.waitForFinished(60000));
    QVERIFY2(ferramenta.exitStatus() == QProcess::NormalExit && ferramenta.exitCode() == 0,
             ferramenta.readAllStandardError().constData());
    const QImage desenhada = QImage(png).convertToFormat(QImage::Format_RGB32);
    const QImage janela = m_janela->findChild<QLabel*>(QStringLiteral("ImageFrame"))
                              ->pixmap()
                              .toImage()
                              .convertToFormat(QImage::Format_RGB32);
    QCOMPARE(desenhada.size(), QSize(512, 256));
    QVERIFY(desenhada == janela);
}

// A new capture: the simulator records while it plays; what the program did
// is printed, for the .outcome that goes beside it.
void TestCapturas::gravar() {
    QVERIFY2(g_argumentos.size() >= 3, "--record CAPTURE MODEL [simulator options]");
    QString resultado;
    tocar(g_argumentos[2].toInt(), QStringList{"--record", g_argumentos[1]} + g_argumentos.mid(3),
          resultado);
    if (QTest::currentTestFailed())
        return;
    // A case where nothing is saved or shown simply waits it all.
    (void)QTest::qWaitFor(
        [&] { return !m_caixas->textos.isEmpty() || !listDir(leituras()).empty(); }, kAfterMs);
    QTest::qWait(kQuietMs);
    qInfo("%s", qPrintable(resultado));
    for (const QString& mensagem : m_caixas->textos)
        qInfo("message %s", qPrintable(mensagem));
    for (const std::string& arquivo : listDir(leituras())) {
        std::string golden = "(a text of no golden)";
        for (const std::string& nome : listDir(testDataPath("serial")))
            if (diferencaDaLeitura(leituras() + "/" + arquivo, "serial/" + nome).empty())
                golden = "serial/" + nome;
        qInfo("file %s %s", arquivo.c_str(), golden.c_str());
    }
}

void TestCapturas::conferirDados() {
    int capturas = 0;
    for (const std::string& nome : listDir(testDataPath("captures"))) {
        if (nome.size() < 9 || nome.compare(nome.size() - 8, 8, ".krvwcap") != 0)
            continue;
        const std::string captura = testDataPath("captures/" + nome);
        Desfecho desfecho;
        std::string erro;
        QVERIFY2(lerDesfecho(captura, desfecho, erro), erro.c_str());
        QVERIFY2(tracerModel(modeloDaCaptura(captura)) != nullptr, nome.c_str());
        // The capture played next is the same tracer, plugged back.
        QVERIFY2(desfecho.seguinte.empty() ||
                     modeloDaCaptura(testDataPath("captures/" + desfecho.seguinte)) ==
                         modeloDaCaptura(captura),
                 nome.c_str());
        ++capturas;
    }
    QVERIFY(capturas > 0);
}

// The capture (or --record and its arguments) is the runner's; QtTest gets none.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    for (int i = 1; i < argc; ++i)
        g_argumentos << QString::fromLocal8Bit(argv[i]);
    TestCapturas teste;
    return QTest::qExec(&teste, 1, argv);
}

#include "test_capturas.moc"
