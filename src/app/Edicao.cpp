#include "Edicao.h"

#include "Readingfile.h"

#include <QClipboard>
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
    return readingDirectoryWithSeparator(caminhoLeitura);
}

void CopiarCaminho(const QString& caminho) {
    QGuiApplication::clipboard()->setText(caminho);
}
