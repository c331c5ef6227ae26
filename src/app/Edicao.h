// The edition of the program (this is the WEB edition) and its texts.
#pragma once

#include <QString>
#include <string>

extern const char* const kTituloAplicacao; // the application's title

// The main window's caption.
QString TituloJanela();
// The configured reading folder with exactly one trailing '/'; the user's
// home folder when none is configured.
std::string DiretorioLeitura(const std::string& caminhoLeitura);
