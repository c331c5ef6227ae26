// The program's message boxes as a person meets them: the real QMessageBox,
// answered with OK a while after it opened, or only once something has
// happened (a tracer has finished its conversation) while it stays open.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>

class RespondedorDeCaixas : public QObject {
public:
    // Answers the topmost box once it has been open `atrasoMs` and `quando`
    // holds (always, when not given). Looks every 20 ms.
    explicit RespondedorDeCaixas(int atrasoMs, std::function<bool()> quando = {});

    QStringList textos;  // every box's text, in the order they opened
    int maisAbertas = 0; // the most boxes open at one time
    // No box is open.
    static bool nenhumaAberta();
    // Runs once, while the first box is open.
    std::function<void()> comACaixaAberta;

private:
    void olhar();

    int m_atrasoMs;
    std::function<bool()> m_quando;
    QElapsedTimer m_relogio;
    QTimer m_timer;
};
