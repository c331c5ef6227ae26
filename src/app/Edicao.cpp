#include "Edicao.h"

#include "Readingfile.h"

#include <QDir>

const char* const kTituloAplicacao = "KRVW - Leitor de Tracer do GIRA WEB";

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
