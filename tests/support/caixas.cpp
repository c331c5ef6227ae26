#include "caixas.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

namespace {

const char* const kAbertaEm = "krvwAbertaEm"; // when first seen, on the answerer's clock

QList<QMessageBox*> caixasVisiveis() {
    QList<QMessageBox*> caixas;
    for (QWidget* janela : QApplication::topLevelWidgets())
        if (auto* caixa = qobject_cast<QMessageBox*>(janela);
            caixa != nullptr && caixa->isVisible())
            caixas << caixa;
    return caixas;
}

} // namespace

RespondedorDeCaixas::RespondedorDeCaixas(int atrasoMs, std::function<bool()> quando)
    : m_atrasoMs(atrasoMs), m_quando(std::move(quando)) {
    m_relogio.start();
    connect(&m_timer, &QTimer::timeout, this, &RespondedorDeCaixas::olhar);
    m_timer.start(20);
}

bool RespondedorDeCaixas::nenhumaAberta() {
    return caixasVisiveis().isEmpty();
}

void RespondedorDeCaixas::olhar() {
    const QList<QMessageBox*> caixas = caixasVisiveis();
    for (QMessageBox* caixa : caixas) {
        if (caixa->property(kAbertaEm).isValid())
            continue;
        caixa->setProperty(kAbertaEm, m_relogio.elapsed());
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
    if (m_relogio.elapsed() - topo->property(kAbertaEm).toLongLong() < m_atrasoMs)
        return;
    if (!m_quando || m_quando())
        topo->button(QMessageBox::Ok)->click();
}
