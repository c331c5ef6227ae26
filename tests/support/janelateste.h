// What the window tests share: a scratch folder with ini/ and leituras/, a
// scratch home folder (HOME), a serial port the program lists (m_serial, new for every test), the
// main window under test, the messages it shows (captured, unless a test asks for the real boxes),
// its configuration file and the check of a reading file.
#pragma once

#include "Principal.h"
#include "ptypair.h"
#include "testsupport.h"

#include <QByteArray>
#include <QPushButton>
#include <QStringList>
#include <memory>
#include <string>

// The text of ini/krvw.ini.
std::string configuracao(int modelo, const std::string& serial, int tcp, const std::string& caminho,
                         bool noMsg = false, const std::string& baud = "9600");
// A TCP port on which nothing listens now.
quint16 portaLivre();
// The slots of the connection table in use.
int slotsEmUso();
// The realistic two-eye tracing's label file.
QString realista();
// A message of the networked tracers' protocol.
QByteArray mensagemDeRede(unsigned char lider, unsigned char tipo, quint16 a, quint16 b,
                          const QByteArray& payload = {});

class JanelaDeTeste {
protected:
    // For init(): a fresh folder and window; messages go to m_mensagens.
    void criarJanela();
    // For cleanup().
    void destruirJanela();
    // The window on the configuration text `conteudo` (none: the file as it
    // is), shown, its first show handled.
    void mostrar(const std::string* conteudo = nullptr);
    void mostrar(const std::string& conteudo) { mostrar(&conteudo); }
    std::string ini() const { return m_dir->file("ini/krvw.ini"); }
    std::string leituras() const { return m_dir->file("leituras"); }
    QPushButton* botao(const char* nome) const {
        return m_janela->findChild<QPushButton*>(QString::fromLatin1(nome));
    }
    // The reading file leituras()/`arquivo` deciphers to tests/data/serial/`esperado`.
    void compararLeitura(const std::string& arquivo, const char* esperado) const;

    QStringList m_mensagens;
    std::unique_ptr<ScratchDir> m_dir;
    std::unique_ptr<ScratchHome> m_casa;
    std::unique_ptr<ListedPort> m_serial;
    std::unique_ptr<TformPrincipal> m_janela;
};
