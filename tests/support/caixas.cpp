#include "caixas.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

namespace {

const char* const kAbertaEm = "krvwAbertaEm"; // ms of the answerer's clock when first seen

QList<QMessageBox*> caixasVisiveis() {
    QList<QMessageBox*> caixas;
    for (QWidget* janela : QApplication::topLevelWidgets())
        if (auto* caixa = qobject_cast<QMessageBox*>(janela);
            caixa != nullptr && caixa->isVisible())
            caixas << caixa;
    return caixas;
}

QElapsedTimer& relogio() {
    static QElapsedTimer r = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return r;
}

} // namespace

RespondedorDeCaixas::RespondedorDeCaixas(int atrasoMs, std::function<bool()> quando)
    : m_atrasoMs(atrasoMs), m_quando(std::move(quando)) {
    connect(&m_timer, &QTimer::timeout, this, &RespondedorDeCaixas::olhar);
    m_timer.start(20);
}

int RespondedorDeCaixas::abertas() const {
    return static_cast<int>(caixasVisiveis().size());
}

void RespondedorDeCaixas::olhar() {
    const QList<QMessageBox*> caixas = caixasVisiveis();
    for (QMessageBox* caixa : caixas) {
        if (caixa->property(kAbertaEm).isValid())
            continue;
        caixa->setProperty(kAbertaEm, relogio().elapsed());
        textos << caixa->text();
    }
    maisAbertas = std::max(maisAbertas, static_cast<int>(caixas.size()));
    if (comACaixaAberta && !caixas.isEmpty()) {
        const auto tarefa = std::move(comACaixaAberta);
        comACaixaAberta = nullptr;
        tarefa();
        return;
    }
    auto* topo = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (topo == nullptr || !topo->property(kAbertaEm).isValid())
        return;
    if (relogio().elapsed() - topo->property(kAbertaEm).toLongLong() < m_atrasoMs)
        return;
    if (!m_quando || m_quando())
        topo->button(QMessageBox::Ok)->click();
}
