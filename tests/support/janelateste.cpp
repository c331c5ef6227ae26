#include "janelateste.h"

#include "Conexoesrede.h"
#include "leituracifrada.h"

#include <QTcpServer>
#include <QtTest>

#include <sys/stat.h>

std::string configuracao(int modelo, const std::string& serial, int tcp, const std::string& caminho,
                         bool noMsg, const std::string& baud) {
    return "MODELOTRACER=" + std::to_string(modelo) + "\r\nPORTATCP=" + std::to_string(tcp) +
           "\r\nPORTASERIAL=" + serial + "\r\nBAUDRATE=" + baud + "\r\nCAMINHOLEITURA=" + caminho +
           "\r\nNOMSG=" + (noMsg ? "1" : "0") + "\r\n";
}

quint16 portaLivre() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

int slotsEmUso() {
    int emUso = 0;
    for (int slot = 0; slot < kSlotsDeConexao; ++slot)
        emUso += SlotParaTeste(slot).livre != 1 ? 1 : 0;
    return emUso;
}

QString realista() {
    return QString::fromStdString(testDataPath("reading/realistic.labels"));
}

// A message of the networked tracers' protocol: code, words, payload, check
// bytes, terminator.
QByteArray mensagemDeRede(unsigned char lider, unsigned char tipo, quint16 a, quint16 b,
                          const QByteArray& payload) {
    QByteArray m;
    m.append(static_cast<char>(lider)).append(static_cast<char>(tipo)).append('\0');
    for (quint16 palavra : {a, b, static_cast<quint16>(payload.size())})
        m.append(static_cast<char>(palavra & 0xFF)).append(static_cast<char>(palavra >> 8));
    m.append(payload);
    m.append('\0').append('\0').append('\x19');
    return m;
}

void JanelaDeTeste::criarJanela() {
    m_mensagens.clear();
    setMessageFunctionForTesting([this](const QString& text) { m_mensagens << text; });
    m_dir = std::make_unique<ScratchDir>();
    m_casa = std::make_unique<ScratchHome>();
    QVERIFY(mkdir(m_dir->file("ini").c_str(), 0700) == 0);
    QVERIFY(mkdir(leituras().c_str(), 0700) == 0);
    m_serial = std::make_unique<ListedPort>();
    QVERIFY(m_serial->ok());
    m_janela = std::make_unique<TformPrincipal>();
}

void JanelaDeTeste::destruirJanela() {
    DescartarMensagens(); // boxes a test left open
    m_janela.reset();
    m_serial.reset();
    m_casa.reset();
    m_dir.reset();
    setMessageFunctionForTesting(nullptr);
}

void JanelaDeTeste::mostrar(const std::string* conteudo) {
    if (conteudo != nullptr)
        writeFileBytes(ini(), *conteudo);
    m_janela->setCaminhoIni(ini());
    m_janela->show();
    QTRY_VERIFY(!m_janela->windowTitle().isEmpty()); // the first show has been handled
}

void JanelaDeTeste::compararLeitura(const std::string& arquivo, const char* esperado) const {
    const std::string diferenca =
        diferencaDaLeitura(leituras() + "/" + arquivo, std::string("serial/") + esperado);
    QVERIFY2(diferenca.empty(), diferenca.c_str());
}
