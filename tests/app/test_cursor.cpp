// The wait cursor of the synchronous readings (LT980 and Takubomatic): set
// while the reading holds the message loop, gone before any message is shown
// and after the reading, whatever its outcome.
#include "Principal.h"

#include "janelateste.h"

#include <QApplication>
#include <QCursor>
#include <QPushButton>
#include <QtTest>

#include <cstring>
#include <stdexcept>

namespace {

// What the cursor looks like at a given moment.
enum class Cursor { Normal, Espera, Outro };

Cursor cursorAtual() {
    const QCursor* cursor = QApplication::overrideCursor();
    if (cursor == nullptr)
        return Cursor::Normal;
    return cursor->shape() == Qt::WaitCursor ? Cursor::Espera : Cursor::Outro;
}

} // namespace

class TestCursor : public QObject, public JanelaDeTeste {
    Q_OBJECT

private:
    // The cursor seen when each message was shown.
    QList<Cursor> m_cursorNaMensagem;

    // Applies a configuration of `modelo` and presses "Leitura"; `direto` calls
    // the button's handler instead, as for a reading that throws (an exception
    // must not cross Qt's event delivery).
    void lerComModelo(int modelo, bool direto = false) {
        mostrar(configuracao(modelo, m_serial->path(), 55555, m_dir->path()));
        m_mensagens.clear();
        m_cursorNaMensagem.clear();
        if (direto)
            m_janela->btnLeituraSerialClick();
        else
            QTest::mouseClick(botao("btnLeituraSerial"), Qt::LeftButton);
    }

private slots:
    void init() {
        criarJanela();
        setMessageFunctionForTesting([this](const QString& text) {
            m_mensagens << text;
            m_cursorNaMensagem << cursorAtual();
        });
        QCOMPARE(cursorAtual(), Cursor::Normal);
    }
    void cleanup() {
        destruirJanela();
        while (QApplication::overrideCursor() != nullptr)
            QApplication::restoreOverrideCursor(); // a failed test leaves the next ones clean
    }

    void esperaDuranteLeituraComErro() {
        Cursor duranteALeitura = Cursor::Normal;
        m_janela->setLeituraSincrona(
            0, [&](struct_tracedata&, const std::string&, int, std::string& detail) -> int64_t {
                duranteALeitura = cursorAtual();
                detail = "Tracer não encontrado.";
                return 40030010010020;
            });
        lerComModelo(0);
        QCOMPARE(duranteALeitura, Cursor::Espera);
        QCOMPARE(m_mensagens.size(), 1);
        QVERIFY(m_mensagens[0].startsWith(QStringLiteral("Houve um problema na leitura (40")));
        QCOMPARE(m_cursorNaMensagem[0], Cursor::Normal); // restored before the box
        QCOMPARE(cursorAtual(), Cursor::Normal);
    }

    void esperaDuranteLeituraSalva() {
        Cursor duranteALeitura = Cursor::Normal;
        m_janela->setLeituraSincrona(
            5, [&](struct_tracedata& record, const std::string&, int, std::string&) -> int64_t {
                duranteALeitura = cursorAtual();
                clearTraceData(record);
                std::strcpy(record.job, "00815");
                record.right.radiusCount = 4;
                for (int i = 0; i < 4; ++i)
                    record.right.points[i].radius = 2500;
                return 0;
            });
        lerComModelo(5);
        QCOMPARE(duranteALeitura, Cursor::Espera);
        QVERIFY(fileExists(m_dir->file("815.krvw")));
        QCOMPARE(m_mensagens.size(), 1);
        QVERIFY(m_mensagens[0].startsWith(QStringLiteral("Concluído.")));
        QCOMPARE(m_cursorNaMensagem[0], Cursor::Normal); // restored before the save flow
        QCOMPARE(cursorAtual(), Cursor::Normal);
    }

    void esperaDesfeitaQuandoALeituraLancaExcecao() {
        m_janela->setLeituraSincrona(
            0, [](struct_tracedata&, const std::string&, int, std::string&) -> int64_t {
                throw std::runtime_error("sem memória");
            });
        bool lancou = false;
        try {
            lerComModelo(0, true);
        } catch (const std::runtime_error&) {
            lancou = true;
        }
        QVERIFY(lancou);
        QVERIFY(m_mensagens.isEmpty());
        QCOMPARE(cursorAtual(), Cursor::Normal);
    }

    void semEsperaForaDasLeiturasSincronas() {
        // Essilor: "Leitura" only opens the port; nothing holds the loop.
        lerComModelo(4);
        QCOMPARE(cursorAtual(), Cursor::Normal);
    }
};

QTEST_MAIN(TestCursor)
#include "test_cursor.moc"
