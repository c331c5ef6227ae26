// What the user sees of the main window: the configuration applied at start,
// every failed check with its message, the reading buttons, the TCP server.
#include "Principal.h"

#include "Calibration.h"
#include "Parametroskrvw.h"
#include "janelateste.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <unistd.h>

class TestPrincipal : public QObject, public JanelaDeTeste {
    Q_OBJECT

private:
    QString texto(const char* nome) const {
        return m_janela->findChild<QLabel*>(QString::fromLatin1(nome))->text();
    }
    bool visivel(const char* nome) const {
        return !m_janela->findChild<QWidget*>(QString::fromLatin1(nome))->isHidden();
    }
    void aplicar(const std::string& arquivo) {
        writeFileBytes(ini(), arquivo);
        m_mensagens.clear();
        m_janela->AplicarParametros();
    }
    void semBotoesNemPorta() {
        QVERIFY(!visivel("btnLeituraSerial"));
        QVERIFY(!visivel("btnCalibrar"));
        QVERIFY(!visivel("btnParar"));
        QVERIFY(!visivel("lblPorta"));
        QVERIFY(!visivel("lblRotuloPorta"));
    }

private slots:
    void init() { criarJanela(); }
    void cleanup() { destruirJanela(); }

    void primeiroInicioServeNaPortaPadrao() {
        mostrar(nullptr);
        QVERIFY(m_mensagens.isEmpty());
        QCOMPARE(QString::fromStdString(readFileBytes(ini())),
                 QStringLiteral("MODELOTRACER=1\r\nPORTATCP=55555\r\nPORTASERIAL=\r\n"
                                "BAUDRATE=9600\r\nCAMINHOLEITURA=\r\nNOMSG=0\r\n"));
        QCOMPARE(m_janela->windowTitle(),
                 QStringLiteral("Leitor de Tracer do GIRA WEB - Veltra Informática"));
        QCOMPARE(texto("lblTracer"),
                 QStringLiteral("Dispositivos: NIDEK LT1000/LT1200/ICE (rede)"));
        QVERIFY(visivel("lblRotuloPorta"));
        QCOMPARE(texto("lblRotuloPorta"), QStringLiteral("Porta:"));
        QVERIFY(visivel("lblPorta"));
        QCOMPARE(texto("lblPorta"), QStringLiteral("55555"));
        QVERIFY(!visivel("btnLeituraSerial"));
        QVERIFY(!visivel("btnCalibrar"));
        QVERIFY(!visivel("btnParar"));
        QCOMPARE(m_janela->contextoLeitura().vendor, std::string("NIDEK"));
        QCOMPARE(m_janela->contextoLeitura().model, std::string("LT1000"));
        QTcpSocket tracer;
        tracer.connectToHost(QHostAddress::LocalHost, 55555);
        QVERIFY(tracer.waitForConnected(2000));
    }

    void modeloInvalido() {
        const std::string arquivo = configuracao(9, "", 55555, "");
        mostrar(&arquivo);
        QCOMPARE(m_mensagens, QStringList{QStringLiteral(
                                  "Valor de \"Tracer\" inválido. Verifique \"Parâmetros\".")});
        QCOMPARE(texto("lblTracer"), QStringLiteral("Tracer:"));
        semBotoesNemPorta();
        QVERIFY(!m_janela->servidor().isListening());
    }

    void portaTcpForaDaFaixa() {
        mostrar(nullptr);
        for (int porta : {0, 70000, -1}) {
            aplicar(configuracao(1, "", porta, ""));
            QCOMPARE(m_mensagens, QStringList{QStringLiteral(
                                      "Porta TCP deve ser um número entre 1 e 65535. Verifique "
                                      "\"Parâmetros\".")});
            semBotoesNemPorta();
            QVERIFY(!m_janela->servidor().isListening());
        }
    }

    void portaTcpEmUso() {
        QTcpServer outro;
        QVERIFY(outro.listen(QHostAddress::Any, portaLivre()));
        mostrar(nullptr);
        aplicar(configuracao(1, "", outro.serverPort(), ""));
        QCOMPARE(m_mensagens,
                 QStringList{QStringLiteral("Não foi possível abrir a conexão para comunicação "
                                            "com o Dispositivo. Verifique se a porta já está "
                                            "em uso.\n\nPorta TCP %1: já está em uso por "
                                            "outro programa.")
                                 .arg(outro.serverPort())});
        semBotoesNemPorta();
        QCOMPARE(m_janela->contextoLeitura().vendor, std::string("NIDEK"));
        QCOMPARE(m_janela->contextoLeitura().model, std::string("LT1000"));
    }

    void portaSerialAusente() {
        mostrar(nullptr);
        for (const std::string& porta : {std::string(), m_dir->file("ttyNenhuma")}) {
            aplicar(configuracao(2, porta, 55555, ""));
            QCOMPARE(m_mensagens, QStringList{QStringLiteral(
                                      "Porta Serial não disponível. Verifique \"Parâmetros\"")});
            QCOMPARE(texto("lblTracer"), QStringLiteral("Tracer: Huvitz (serial)"));
            semBotoesNemPorta();
            QVERIFY(!m_janela->servidor().isListening());
            QVERIFY(!m_janela->portaTimer().isOpen());
        }
    }

    void baudRateInvalida() {
        mostrar(nullptr);
        aplicar(configuracao(3, m_serial->path(), 55555, "", false, "4800"));
        QCOMPARE(m_mensagens,
                 QStringList{QStringLiteral("Baud Rate inválida. Verifique \"Parâmetros\"")});
        semBotoesNemPorta();
        QVERIFY(!m_janela->portaTimer().isOpen());
    }

    void pastaIniSemEscrita() {
        m_janela->setCaminhoIni(m_dir->file("sem-pasta/krvw.ini"));
        m_janela->show();
        QTRY_COMPARE(m_mensagens.size(), 2);
        QCOMPARE(m_mensagens[0], QStringLiteral("Não foi possível gravar os Parâmetros. Por favor, "
                                                "verifique se possui acesso ao diretório."));
        QCOMPARE(m_mensagens[1],
                 QStringLiteral("Não há Parâmetros configurados. Verifique \"Parâmetros\"."));
        semBotoesNemPorta();
        QVERIFY(!m_janela->servidor().isListening());
    }

    void modelosSeriaisAbremAPorta() {
        mostrar(nullptr);
        aplicar(configuracao(2, m_serial->path(), 55555, "", false, "19200"));
        QVERIFY(m_mensagens.isEmpty());
        QCOMPARE(texto("lblTracer"), QStringLiteral("Tracer: Huvitz (serial)"));
        QVERIFY(m_janela->portaTimer().isOpen());
        QVERIFY(m_janela->timerSerial().isActive());
        QVERIFY(!m_janela->servidor().isListening());
        QCOMPARE(m_janela->contextoLeitura().vendor, std::string("HUVITZ"));
        semBotoesNemPorta();

        // Re-applying closes and opens again; switching to the network closes the port.
        aplicar(configuracao(6, m_serial->path(), 55555, "", false, "38400"));
        QCOMPARE(texto("lblTracer"), QStringLiteral("Tracer: Nidek LT1000/LT1200 (serial)"));
        QVERIFY(m_janela->portaTimer().isOpen());
        aplicar(configuracao(1, m_serial->path(), 55555, "", false, "38400"));
        QVERIFY(!m_janela->portaTimer().isOpen());
        QVERIFY(!m_janela->timerSerial().isActive());
        QVERIFY(m_janela->servidor().isListening());
    }

    void essilorLeituraEParar() {
        const std::string arquivo = configuracao(4, m_serial->path(), 55555, "");
        mostrar(&arquivo);
        QVERIFY(m_mensagens.isEmpty());
        QCOMPARE(texto("lblTracer"), QStringLiteral("Tracer: Essilor (serial)"));
        QPushButton* leitura = botao("btnLeituraSerial");
        QPushButton* parar = botao("btnParar");
        QVERIFY(visivel("btnLeituraSerial") && leitura->isEnabled());
        QVERIFY(visivel("btnParar") && !parar->isEnabled());
        QVERIFY(!m_janela->portaTimer().isOpen());
        QCOMPARE(m_janela->contextoLeitura().vendor, std::string("ESSILOR"));

        QTest::mouseClick(leitura, Qt::LeftButton);
        QVERIFY(!leitura->isEnabled());
        QVERIFY(parar->isEnabled());
        QVERIFY(m_janela->portaTimer().isOpen());
        QVERIFY(m_janela->timerSerial().isActive());

        QTest::mouseClick(parar, Qt::LeftButton);
        QVERIFY(leitura->isEnabled());
        QVERIFY(!parar->isEnabled());
        QVERIFY(!m_janela->portaTimer().isOpen());
        QVERIFY(!m_janela->timerSerial().isActive());
    }

    void leituraSincronaComErro() {
        const std::string arquivo = configuracao(0, m_serial->path(), 55555, "");
        mostrar(&arquivo);
        QCOMPARE(texto("lblTracer"), QStringLiteral("Tracer: NIDEK LT980 (serial)"));
        QVERIFY(visivel("btnCalibrar") && visivel("btnLeituraSerial") && !visivel("btnParar"));
        std::string dispositivo;
        int baud = 0;
        m_janela->setLeituraSincrona(0,
                                     [&](struct_tracedata&, const std::string& device, int rate,
                                         std::string& detail) -> int64_t {
                                         dispositivo = device;
                                         baud = rate;
                                         detail = "Tracer não encontrado.";
                                         return 40030010010020;
                                     });
        QTest::mouseClick(botao("btnLeituraSerial"), Qt::LeftButton);
        QCOMPARE(dispositivo, m_serial->path());
        QCOMPARE(baud, 9600);
        QCOMPARE(m_mensagens.size(), 1);
        QVERIFY(m_mensagens[0].startsWith(QStringLiteral("Houve um problema na leitura (40")));
        QVERIFY(m_mensagens[0].endsWith(
            QStringLiteral("):\n\n - Tracer não encontrado.\n\nReinicie o Tracer, efetue uma "
                           "nova leitura e tente novamente.")));
        QCOMPARE(m_janela->contextoLeitura().model, std::string()); // emptied by "Leitura"
    }

    void leituraSincronaSalva() {
        const std::string arquivo =
            configuracao(5, m_serial->path(), 55555, m_dir->path(), false, "38400");
        mostrar(&arquivo);
        QCOMPARE(texto("lblTracer"), QStringLiteral("Tracer: Takubomatic"));
        m_janela->setLeituraSincrona(
            5, [](struct_tracedata& record, const std::string&, int, std::string&) -> int64_t {
                clearTraceData(record);
                std::strcpy(record.job, "00815");
                record.right.radiusCount = 4;
                for (int i = 0; i < 4; ++i)
                    record.right.points[i].radius = 2500;
                return 0;
            });
        QTest::mouseClick(botao("btnLeituraSerial"), Qt::LeftButton);
        const QString caminho = QString::fromStdString(m_dir->file("815.krvw"));
        QVERIFY(fileExists(caminho.toStdString()));
        QCOMPARE(QGuiApplication::clipboard()->text(), caminho);
        QCOMPARE(m_mensagens.size(), 1);
        QVERIFY(m_mensagens[0].startsWith(QStringLiteral("Concluído.")));
        // Drawn when the window next gets to it.
        QTRY_VERIFY(!m_janela->findChild<QLabel*>(QStringLiteral("ImageFrame"))
                         ->pixmap(Qt::ReturnByValue)
                         .isNull());
    }

    void numeroDoErroAgrupadoPelaLocalidade() {
        const QString texto = MensagemErroLeitura(10010, "Porta inexistente.");
        const QString locale = QLocale::system().name();
        if (locale == QStringLiteral("pt_BR"))
            QCOMPARE(texto.left(37), QStringLiteral("Houve um problema na leitura (10.010)"));
        else if (locale == QStringLiteral("C") || locale == QStringLiteral("en_US"))
            QCOMPARE(texto.left(37), QStringLiteral("Houve um problema na leitura (10,010)"));
        else // any other desktop: its own separator
            QVERIFY2(texto.startsWith("Houve um problema na leitura (" +
                                      NumeroAgrupado(10010, QLocale::system()) + ")"),
                     qPrintable(texto));
    }

    // Groups of three in every locale, with its separator: not the locale's
    // own rule, which leaves 1070 whole (pt_PT, es_ES) or groups by twos (hi_IN).
    void numeroAgrupadoPorTresEmTodaLocalidade() {
        const std::tuple<const char*, qlonglong, QString> casos[] = {
            {"C", 40020040, "40,020,040"},
            {"pt_BR", 10010, "10.010"},
            {"pt_PT", 1070, QStringLiteral("1\u00A0070")},
            {"es_ES", 1070, "1.070"},
            {"hi_IN", 40030010010020, "40,030,010,010,020"},
        };
        for (const auto& [nome, numero, agrupado] : casos)
            QCOMPARE(NumeroAgrupado(numero, QLocale(QString::fromLatin1(nome))), agrupado);
    }

    void parametrosConfirmadosSaoAplicados() {
        mostrar(nullptr);
        TformParametrosKRVW dialogo(m_janela.get());
        formParametrosKRVW = &dialogo;
        const quint16 porta = portaLivre();
        // The user types another TCP port and confirms.
        QTimer::singleShot(0, this, [porta] {
            QWidget* modal = QApplication::activeModalWidget();
            QVERIFY(modal != nullptr);
            auto* tcp = modal->findChild<QLineEdit*>(QStringLiteral("editPortaTCP"));
            tcp->setText(QString::number(porta));
            modal->findChild<QToolButton*>(QStringLiteral("btnConfirmar"))->click();
        });
        m_janela->findChild<QAction*>(QStringLiteral("Parametros1"))->trigger();
        formParametrosKRVW = nullptr;
        QVERIFY(m_mensagens.isEmpty());
        QCOMPARE(m_janela->configuracao().portaTcp, int(porta));
        QCOMPARE(m_janela->servidor().serverPort(), porta);
        QCOMPARE(texto("lblPorta"), QString::number(porta));
        QVERIFY(readFileBytes(ini()).find("PORTATCP=" + std::to_string(porta) + "\r\n") !=
                std::string::npos);

        // Closing the dialog without confirming changes nothing.
        TformParametrosKRVW outro(m_janela.get());
        formParametrosKRVW = &outro;
        QTimer::singleShot(0, this, [] { QApplication::activeModalWidget()->close(); });
        m_janela->findChild<QAction*>(QStringLiteral("Parametros1"))->trigger();
        formParametrosKRVW = nullptr;
        QCOMPARE(m_janela->servidor().serverPort(), porta);
    }

    void sairEncerraOLaco() {
        mostrar(nullptr);
        QTimer::singleShot(
            0, this, [this] { m_janela->findChild<QAction*>(QStringLiteral("Sair1"))->trigger(); });
        QCOMPARE(QApplication::exec(), 0);
    }
};

QTEST_MAIN(TestPrincipal)
#include "test_principal.moc"
