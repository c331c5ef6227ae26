#include "Encerramento.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A signal handler may only write: it wakes the message loop through this
// pair, and the loop asks itself to quit.
int g_par[2] = {-1, -1};

void aoSinal(int) {
    const char sinal = 1;
    const int salvo = errno;
    // A full pair already holds a wake-up: this one is not needed.
    if (::write(g_par[0], &sinal, 1) < 0) {
    }
    errno = salvo;
}

} // namespace

bool EncerrarNosSinais() {
    if (g_par[0] >= 0)
        return true;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_par) != 0)
        return false;
    auto* aviso =
        new QSocketNotifier(g_par[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(aviso, &QSocketNotifier::activated, aviso, [] {
        char sinal = 0;
        if (::read(g_par[1], &sinal, 1) < 0)
            return;
        QCoreApplication::quit();
    });
    struct sigaction acao = {};
    acao.sa_handler = aoSinal;
    sigemptyset(&acao.sa_mask);
    acao.sa_flags = SA_RESTART;
    for (const int sinal : {SIGTERM, SIGINT, SIGHUP})
        if (::sigaction(sinal, &acao, nullptr) != 0)
            return false;
    return true;
}
