// Bounded soak runs through the main window, as a lab runs it for a day in a
// few minutes: thousands of networked readings from ten tracers while
// misbehaving peers come and go, then DCS readings over a pseudo-terminal among
// noise and broken records. Every valid reading's file must be there and
// decipher to the expected text; resident memory and open descriptors must
// come back to where they were. The figures go to the test log.
#include "Principal.h"

#include "Conexoesrede.h"
#include "Servidorrede.h"
#include "janelateste.h"
#include "leituracifrada.h"
#include "simulador.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QtTest>

#include <deque>
#include <map>

namespace {

// AddressSanitizer keeps freed blocks in quarantine (up to 256 MB) by design:
// resident memory then grows without a leak, and its leak checker looks at exit.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoriaConferida = false;
#else
constexpr bool kMemoriaConferida = true;
#endif
constexpr long kFolgaDeMemoriaKb = 10 * 1024; // "flat": within 10 MB of the start

// Networked: ten tracers of 200 readings each, every one a job of its own.
constexpr int kTracers = 10;
constexpr int kLeiturasPorTracer = 200;
constexpr int kLeiturasPorProcesso = 25; // each tracer reconnects 8 times
// Seven tracers and one misbehaving peer connected at most: 8 of the 10
// slots, so that a connection just ended and not yet released never makes a
// good tracer the eleventh.
constexpr int kTracersAoMesmoTempo = 7;
constexpr int kAquecimento = 50; // readings before the start figures are taken
constexpr int kLeituraDeRedeMs = 120000;
// The whole networked run, however slow the build: about 15 s in Release.
constexpr qint64 kRedeLimiteMs = 400000;
const char* const kFalhasDeRede[] = {"bad-lead", "connection-ended", "disconnect-mid", "garbage"};

// DCS: rounds of one simulator process each (a new pseudo-terminal at the same
// link: the tracer plugged in again, so the configuration is applied again).
// A clean reading is three records (INI, format negotiation, the tracing),
// each seen at a 500 ms look of the timer; the pseudo-terminal passes at most
// 4 KB to a look, so the 19 KB tracing takes five looks: about 3.5 s a reading
// (a 9600-baud line takes 20 s). Noise costs two 1.5 s pauses of the tracer
// before every record (about 15 s a reading), half a record 6.5 s once per
// round. 200 readings would take over 12 minutes: the rounds below, a warm-up
// and four times clean, noisy and half records, fit in about four.
struct Rodada {
    const char* falha;
    int leituras;
};
// clang-format off
constexpr Rodada kRodadas[] = {
    {"none", 2},
    {"none", 6}, {"garbage", 1}, {"half", 4},
    {"none", 6}, {"garbage", 1}, {"half", 4},
    {"none", 6}, {"garbage", 1}, {"half", 4},
    {"none", 6}, {"garbage", 1}, {"half", 4},
};
// clang-format on
constexpr int kRodadaMsPorLeitura = 20000; // bounds, far above the paces above
constexpr int kRodadaMsFixo = 20000;

// The misbehaving peer of the moment, how many of each fault came, and the
// messages they are to make the window show.
struct PareMau {
    std::unique_ptr<Simulador> simulador;
    QString falha;
    int seguinte = 0;
    std::map<QString, int> contagem;
    QStringList esperadas;
};

// What a run measured, for the log.
struct Figuras {
    int leituras = 0;
    int exatas = 0;
    long memoriaInicio = 0;
    long memoriaFim = 0;
    int descritoresInicio = 0;
    int descritoresFim = 0;
    qint64 duracaoMs = 0;
};

void relatar(const char* nome, const Figuras& f, const QString& mais) {
    qInfo().noquote() << QStringLiteral("SOAK %1: readings=%2 byte-exact=%3 rss_kb=%4->%5 "
                                        "fds=%6->%7 duration_s=%8 %9")
                             .arg(QLatin1String(nome))
                             .arg(f.leituras)
                             .arg(f.exatas)
                             .arg(f.memoriaInicio)
                             .arg(f.memoriaFim)
                             .arg(f.descritoresInicio)
                             .arg(f.descritoresFim)
                             .arg(static_cast<double>(f.duracaoMs) / 1000.0, 0, 'f', 1)
                             .arg(mais);
}

} // namespace

class TestResistencia : public QObject, public JanelaDeTeste {
    Q_OBJECT

private:
    quint16 m_porta = 0;
    std::string m_portaDcs; // the link every DCS round's tracer is played on

    void mostrarSemMensagem(const std::string& conteudo) {
        mostrar(conteudo);
        QVERIFY2(m_mensagens.isEmpty(), qPrintable(m_mensagens.join(QLatin1Char('|'))));
    }
    // The files of the jobs in `jobs`, each deciphered and compared; the count of exact ones.
    int conferir(const std::vector<int>& jobs, const char* esperado) {
        int exatas = 0;
        for (int job : jobs) {
            const std::string diferenca =
                diferencaDaLeitura(leituras() + "/" + std::to_string(job) + ".krvw",
                                   std::string("serial/") + esperado);
            if (diferenca.empty())
                ++exatas;
            else if (exatas < 3)
                qWarning("%s", diferenca.c_str());
        }
        return exatas;
    }
    // The start figures once the warm-up is done and everything has settled.
    void medirInicio(Figuras& f) {
        QTest::qWait(200);
        f.memoriaInicio = memoriaResidenteKb();
        f.descritoresInicio = descritoresAbertos();
    }
    // The end figures: descriptors are given a moment to come back.
    void medirFim(Figuras& f) {
        QTRY_VERIFY_WITH_TIMEOUT(descritoresAbertos() <= f.descritoresInicio, 5000);
        f.descritoresFim = descritoresAbertos();
        f.memoriaFim = memoriaResidenteKb();
    }
    void conferirFiguras(const Figuras& f) {
        QCOMPARE(f.exatas, f.leituras);
        QCOMPARE(f.descritoresFim, f.descritoresInicio);
        if (kMemoriaConferida)
            QVERIFY2(f.memoriaFim - f.memoriaInicio <= kFolgaDeMemoriaKb,
                     qPrintable(QStringLiteral("resident memory grew from %1 kB to %2 kB")
                                    .arg(f.memoriaInicio)
                                    .arg(f.memoriaFim)));
    }
    QStringList argumentosDeRede(int job, int quantas) const {
        return {QStringLiteral("--model"),
                QStringLiteral("1"),
                QStringLiteral("--port"),
                QString::number(m_porta),
                QStringLiteral("--quiet"),
                QStringLiteral("--labels"),
                realista(),
                QStringLiteral("--pair"),
                QStringLiteral("--count"),
                QString::number(quantas),
                QStringLiteral("--job"),
                QString::number(job)};
    }
    void aquecerRede(std::vector<int>& jobs);
    void conferirFim(Simulador& simulador, const QString& esperado, int esperaMs);
    void iniciarPareMau(PareMau& mau);
    void servirRede(std::vector<int>& jobs, PareMau& mau);
    void rodadaDcs(int indice, const Rodada& rodada, int primeiroJob);

private slots:
    void init() { criarJanela(); }
    void cleanup() { destruirJanela(); }

    void redeDezTracersEntrePares();
    void dcsEntreRuidoERegistrosPartidos();
};

void TestResistencia::aquecerRede(std::vector<int>& jobs) {
    constexpr int kJobAquecimento = 1000;
    Simulador tracer;
    QVERIFY(tracer.iniciar(caminhoDoSimulador(), argumentosDeRede(kJobAquecimento, kAquecimento),
                           false));
    QCOMPARE(tracer.resultado(kLeituraDeRedeMs),
             QStringLiteral("RESULT OK readings=%1").arg(kAquecimento));
    for (int i = 0; i < kAquecimento; ++i)
        jobs.push_back(kJobAquecimento + i);
}

// A simulator that has ended (or is ended after `esperaMs`) must have said `esperado`.
void TestResistencia::conferirFim(Simulador& simulador, const QString& esperado, int esperaMs) {
    const QString fim = simulador.resultado(esperaMs);
    QVERIFY2(fim == esperado, qPrintable(fim + QLatin1Char('\n') + simulador.saida()));
}

// The next misbehaving peer, the four faults in turn, with a job of its own
// that must reach no file.
void TestResistencia::iniciarPareMau(PareMau& mau) {
    mau.falha = QLatin1String(kFalhasDeRede[mau.seguinte++ % std::size(kFalhasDeRede)]);
    mau.simulador = std::make_unique<Simulador>();
    QVERIFY(mau.simulador->iniciar(caminhoDoSimulador(),
                                   {QStringLiteral("--model"), QStringLiteral("1"),
                                    QStringLiteral("--port"), QString::number(m_porta),
                                    QStringLiteral("--quiet"), QStringLiteral("--fault"), mau.falha,
                                    QStringLiteral("--job"), QStringLiteral("99999")},
                                   false));
    ++mau.contagem[mau.falha];
    if (mau.falha == QLatin1String("bad-lead") || mau.falha == QLatin1String("garbage"))
        mau.esperadas << QString::fromUtf8(kMensagemInconsistencia);
    else if (mau.falha == QLatin1String("connection-ended"))
        mau.esperadas << QString::fromUtf8(kMensagemAbortada);
}

// The ten tracers' batches, at most seven at a time, while one misbehaving
// peer after another connects until the last batch is done.
void TestResistencia::servirRede(std::vector<int>& jobs, PareMau& mau) {
    std::deque<int> lotes; // the first job of each batch; tracer t's jobs are (t + 1) * 10000 + k
    for (int lote = 0; lote < kLeiturasPorTracer / kLeiturasPorProcesso; ++lote)
        for (int t = 0; t < kTracers; ++t)
            lotes.push_back((t + 1) * 10000 + lote * kLeiturasPorProcesso);
    std::vector<std::unique_ptr<Simulador>> bons;
    const QString ok = QStringLiteral("RESULT OK readings=%1").arg(kLeiturasPorProcesso);
    QElapsedTimer relogio;
    relogio.start();
    while ((!lotes.empty() || !bons.empty()) && !QTest::currentTestFailed()) {
        QVERIFY2(relogio.elapsed() < kRedeLimiteMs,
                 qPrintable(QStringLiteral("%1 batches left, %2 running, %3 slots in use")
                                .arg(lotes.size())
                                .arg(bons.size())
                                .arg(slotsEmUso())));
        for (auto it = bons.begin(); it != bons.end();) {
            if (!(*it)->terminou()) {
                ++it;
                continue;
            }
            conferirFim(**it, ok, 0);
            it = bons.erase(it);
        }
        if (mau.simulador != nullptr && mau.simulador->terminou()) {
            conferirFim(*mau.simulador, QStringLiteral("RESULT OK fault=") + mau.falha, 0);
            mau.simulador.reset();
        }
        const int rodando = static_cast<int>(bons.size()) + (mau.simulador != nullptr ? 1 : 0);
        const bool haVaga = slotsEmUso() <= rodando; // no connection left over
        if (mau.simulador == nullptr && haVaga) {
            iniciarPareMau(mau);
        } else if (!lotes.empty() && haVaga && bons.size() < kTracersAoMesmoTempo) {
            bons.push_back(std::make_unique<Simulador>());
            QVERIFY(bons.back()->iniciar(caminhoDoSimulador(),
                                         argumentosDeRede(lotes.front(), kLeiturasPorProcesso),
                                         false));
            for (int k = 0; k < kLeiturasPorProcesso; ++k)
                jobs.push_back(lotes.front() + k);
            lotes.pop_front();
        }
        QTest::qWait(5);
    }
    if (mau.simulador != nullptr)
        conferirFim(*mau.simulador, QStringLiteral("RESULT OK fault=") + mau.falha,
                    kLeituraDeRedeMs);
}

void TestResistencia::redeDezTracersEntrePares() {
    m_porta = portaLivre();
    mostrarSemMensagem(configuracao(1, "", m_porta, leituras(), true));
    QTRY_VERIFY(m_janela->servidor().isListening());
    QElapsedTimer relogio;
    relogio.start();
    std::vector<int> jobs;
    aquecerRede(jobs);
    if (QTest::currentTestFailed())
        return;
    Figuras f;
    medirInicio(f);
    PareMau maus;
    servirRede(jobs, maus);
    if (QTest::currentTestFailed())
        return;
    QTRY_COMPARE_WITH_TIMEOUT(slotsEmUso(), 0, 10000);
    medirFim(f);
    f.duracaoMs = relogio.elapsed();
    f.leituras = static_cast<int>(jobs.size());
    f.exatas = conferir(jobs, "network.expected");
    QString pares;
    int totalMaus = 0;
    for (const auto& [nome, quantos] : maus.contagem) {
        pares += QStringLiteral(" %1=%2").arg(nome).arg(quantos);
        totalMaus += quantos;
    }
    relatar("network", f,
            QStringLiteral("tracers=%1 misbehaving_peers=%2 (%3 ) messages=%4")
                .arg(kTracers)
                .arg(totalMaus)
                .arg(pares)
                .arg(m_mensagens.size()));
    QCOMPARE(f.leituras, kAquecimento + kTracers * kLeiturasPorTracer);
    QCOMPARE(static_cast<int>(listDir(leituras()).size()), f.leituras); // nothing else written
    maus.esperadas.sort();
    m_mensagens.sort();
    QCOMPARE(m_mensagens, maus.esperadas);
    conferirFiguras(f);
}

// One round: a new simulator on the link, the configuration applied again for
// the new port, and the simulator's readings all served.
void TestResistencia::rodadaDcs(int indice, const Rodada& rodada, int primeiroJob) {
    Simulador tracer;
    QVERIFY(tracer.iniciarSerial(
        2, {QStringLiteral("--interval-ms"), QStringLiteral("0"), QStringLiteral("--quiet"),
            QStringLiteral("--labels"), realista(), QStringLiteral("--count"),
            QString::number(rodada.leituras), QStringLiteral("--job"), QString::number(primeiroJob),
            QStringLiteral("--fault"), QLatin1String(rodada.falha)}));
    m_portaDcs = tracer.porta;
    if (indice == 0)
        mostrarSemMensagem(configuracao(2, tracer.porta, 55555, leituras(), true));
    else
        m_janela->AplicarParametros();
    QVERIFY(m_janela->portaTimer().isOpen());
    const QString ok = QStringLiteral("RESULT OK ") +
                       (QLatin1String(rodada.falha) == QLatin1String("none")
                            ? QStringLiteral("readings=%1").arg(rodada.leituras)
                            : QStringLiteral("fault=") + QLatin1String(rodada.falha));
    QElapsedTimer relogio;
    relogio.start();
    const QString fim = tracer.resultado(rodada.leituras * kRodadaMsPorLeitura + kRodadaMsFixo);
    QVERIFY2(fim == ok, qPrintable(fim + QLatin1Char('\n') + tracer.saida()));
    qInfo("SOAK dcs round %d: fault=%s readings=%d duration_s=%.1f", indice, rodada.falha,
          rodada.leituras, static_cast<double>(relogio.elapsed()) / 1000.0);
}

void TestResistencia::dcsEntreRuidoERegistrosPartidos() {
    QElapsedTimer relogio;
    relogio.start();
    std::vector<int> jobs;
    Figuras f;
    QString rodadas;
    for (std::size_t i = 0; i < std::size(kRodadas); ++i) {
        const int primeiro = 20000 + static_cast<int>(i) * 1000;
        rodadaDcs(static_cast<int>(i), kRodadas[i], primeiro);
        if (QTest::currentTestFailed())
            return;
        for (int k = 0; k < kRodadas[i].leituras; ++k)
            jobs.push_back(primeiro + k);
        rodadas += QStringLiteral(" %1x%2")
                       .arg(QLatin1String(kRodadas[i].falha))
                       .arg(kRodadas[i].leituras);
        if (i == 0) // the first round is the warm-up
            medirInicio(f);
    }
    medirFim(f);
    f.duracaoMs = relogio.elapsed();
    f.leituras = static_cast<int>(jobs.size());
    f.exatas = conferir(jobs, "huvitz.expected");
    relatar("dcs", f, QStringLiteral("rounds:%1 messages=%2").arg(rodadas).arg(m_mensagens.size()));
    QCOMPARE(static_cast<int>(listDir(leituras()).size()), f.leituras);
    // A round's tracer goes away when it is done, and the port's loss may be
    // told before the next round applies the configuration; nothing else is.
    m_mensagens.removeAll(MensagemPortaPerdida(m_portaDcs));
    QVERIFY2(m_mensagens.isEmpty(), qPrintable(m_mensagens.join(QLatin1Char('|'))));
    conferirFiguras(f);
}

QTEST_MAIN(TestResistencia)
#include "test_resistencia.moc"
