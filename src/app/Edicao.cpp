#include "Edicao.h"

#include "Readingfile.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>

bool edicaoWeb = false;
bool edicaoErp = false;

const char* const kTituloAplicacao = "KRVW - Leitor de Tracer do GIRA WEB";

void DefinirEdicao() {
    edicaoErp = false;
    edicaoWeb = true;
}

QString TituloJanela() {
    return QStringLiteral("Leitor de Tracer do GIRA WEB - Veltra Informática");
}

std::string DiretorioLeitura(const std::string& caminhoLeitura) {
    // An empty path meant the root of the current drive, where a lab's user
    // could write; the root folder here is root's alone, so a fresh install's
    // first reading would fail. The user's home folder serves instead.
    if (caminhoLeitura.empty())
        return readingDirectoryWithSeparator(QDir::homePath().toStdString());
    return readingDirectoryWithSeparator(caminhoLeitura);
}

void CopiarCaminho(const QString& caminho) {
    QGuiApplication::clipboard()->setText(caminho);
}
