#include "simulador.h"

#include "ptypair.h"

#include <QElapsedTimer>
#include <QTest>

#include <charconv>
#include <filesystem>
#include <fstream>

namespace {

constexpr int kProntoMs = 10000; // the simulator prints its PORT line at once
constexpr int kFimMs = 3000;     // SIGTERM, then SIGKILL

} // namespace

Simulador::~Simulador() {
    if (m_processo.state() != QProcess::NotRunning) {
        m_processo.terminate();
        if (!m_processo.waitForFinished(kFimMs)) {
            m_processo.kill();
            m_processo.waitForFinished(kFimMs);
        }
    }
}

void Simulador::lerSaida() {
    while (m_processo.canReadLine())
        m_saida << QString::fromLatin1(m_processo.readLine()).trimmed();
}

bool Simulador::iniciar(const QString& programa, const QStringList& argumentos, bool serial) {
    m_processo.setProgram(programa);
    m_processo.setArguments(argumentos);
    m_processo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_processo.start();
    if (!m_processo.waitForStarted(kProntoMs))
        return false;
    if (!serial)
        return true;
    QElapsedTimer relogio;
    relogio.start();
    while (relogio.elapsed() < kProntoMs) {
        lerSaida();
        for (const QString& linha : m_saida) {
            if (!linha.startsWith(QStringLiteral("PORT ")))
                continue;
            porta = linha.mid(5).toStdString();
            return true;
        }
        if (!m_processo.waitForReadyRead(100) && m_processo.state() == QProcess::NotRunning)
            return false;
    }
    return false;
}

bool Simulador::iniciarSerial(int modelo, const QStringList& opcoes) {
    // One name will do: the folder is this process's, a test's tracers one at a time.
    const std::string link = listedPortPath("ttyKRVWSIM");
    return iniciar(caminhoDoSimulador(),
                   QStringList{QStringLiteral("--model"), QString::number(modelo),
                               QStringLiteral("--link"), QString::fromStdString(link),
                               QStringLiteral("--no-pace")} +
                       opcoes,
                   true) &&
           porta == link;
}

bool Simulador::conectado() {
    lerSaida();
    for (const QString& linha : m_saida)
        if (linha.startsWith(QStringLiteral("CONNECTED ")))
            return true;
    return false;
}

QString Simulador::resultado(int esperaMs) {
    QElapsedTimer relogio;
    relogio.start();
    while (m_processo.state() != QProcess::NotRunning && relogio.elapsed() < esperaMs)
        QTest::qWait(20); // the window serves the tracer meanwhile
    if (m_processo.state() != QProcess::NotRunning) {
        m_processo.kill();
        m_processo.waitForFinished(kFimMs);
    }
    m_saida += QString::fromLatin1(m_processo.readAllStandardOutput())
                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString& linha : m_saida)
        linha = linha.trimmed();
    return m_saida.isEmpty() ? QString() : m_saida.last();
}

QString caminhoDoSimulador() {
    return QStringLiteral(KRVW_TRACER_SIM);
}

long memoriaResidenteKb() {
    std::ifstream status("/proc/self/status");
    std::string linha;
    while (std::getline(status, linha)) {
        if (linha.rfind("VmRSS:", 0) != 0)
            continue;
        const std::size_t digito = linha.find_first_of("0123456789");
        long kb = -1;
        if (digito != std::string::npos)
            std::from_chars(linha.data() + digito, linha.data() + linha.size(), kb);
        return kb;
    }
    return -1;
}

int descritoresAbertos() {
    int n = 0;
    std::error_code ec;
    // The iterator's own descriptor is counted every time alike.
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++n;
    return n;
}
