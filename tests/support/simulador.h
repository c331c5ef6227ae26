// krvw-tracer-sim run by a window test: started with its arguments while the
// window under test keeps running in the same event loop, its output kept, its
// last line (RESULT ...) telling how its readings went.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <string>

class Simulador {
public:
    Simulador() = default;
    ~Simulador(); // ends it if still running (SIGTERM removes its link)
    Simulador(const Simulador&) = delete;
    Simulador& operator=(const Simulador&) = delete;

    // Starts `programa` with `argumentos`. A serial tracer is ready once it has
    // printed the port to configure (`porta`); a networked one as soon as it
    // runs. False when it did not come up.
    bool iniciar(const QString& programa, const QStringList& argumentos, bool serial);
    // Starts the simulator as the serial tracer `modelo`, unpaced, with
    // `opcoes` besides, on a port the program lists (listedPortPath), for any
    // user. False when it did not come up or could not make its link there.
    bool iniciarSerial(int modelo, const QStringList& opcoes);
    bool terminou() const { return m_processo.state() == QProcess::NotRunning; }
    // True once a networked tracer has printed its CONNECTED line.
    bool conectado();
    // Waits up to `esperaMs` for the end while the window keeps being served,
    // then ends it if it still runs; its last line.
    QString resultado(int esperaMs);
    QString saida() const { return m_saida.join(QLatin1Char('\n')); }

    std::string porta;

private:
    void lerSaida();

    QProcess m_processo;
    QStringList m_saida;
};

// The simulator's path (KRVW_TRACER_SIM of the test target).
QString caminhoDoSimulador();
// Resident memory of this process (VmRSS of /proc/self/status), in kB; -1 if unknown.
long memoriaResidenteKb();
// Open file descriptors of this process (entries of /proc/self/fd).
int descritoresAbertos();
