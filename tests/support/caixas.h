// The program's message boxes as a person meets them: the real QMessageBox,
// each running its own event loop inside the handler that opened it, answered
// with OK a while after it opened, or only once something has happened (a
// tracer has finished its conversation) while it stays open.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>

class RespondedorDeCaixas : public QObject {
public:
    // Answers the topmost box once it has been open `atrasoMs` and `quando`
    // holds (always, when not given). Looks every 20 ms, from whatever event
    // loop runs: the boxes' own ones included.
    explicit RespondedorDeCaixas(int atrasoMs, std::function<bool()> quando = {});

    QStringList textos;  // every box's text, in the order they opened
    int maisAbertas = 0; // the most boxes open at one time
    // Runs once, from inside the first box's event loop, while it is open.
    std::function<void()> comACaixaAberta;

private:
    void olhar();

    int m_atrasoMs;
    std::function<bool()> m_quando;
    QElapsedTimer m_relogio;
    QTimer m_timer;
};
