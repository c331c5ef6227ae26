// The configuration record and its file ini/krvw.ini beside the executable.
#pragma once

#include <string>

class UserInterface;

constexpr int kConfigFileMax = 1024; // a longer file is not read
constexpr int kConfigTextMax = 259;  // characters of a text value when written

enum class Edicao { Web, Erp };

// Text fields hold UTF-8; the file holds them as Windows-1252 bytes.
struct struct_parametros {
    int modeloTracer = 0;
    int portaTcp = 0;
    std::string portaSerial;
    std::string caminhoLeitura;
    std::string baudRate;
    bool noMsg = false;
    // FORMATODCS: the DCS trace format asked for first; 0 when the file has no
    // such line (format 1 first). Optional: written back only when read.
    int formatoDcs = 0;
};

extern const char* const kMessageParametrosInvalidos;   // the file was invalid
extern const char* const kMessageParametrosNaoGravados; // the file cannot be written
extern const char* const kMessageParametroLongo;        // a text value is too long

// The path of the configuration file: the executable's directory, then ini/krvw.ini.
std::string CaminhoIni();
std::string CaminhoIni(const std::string& executablePath);

// Fills the record from the file; a missing, empty or invalid file is replaced by
// the default values. 1 when the file was read, else the result of GravarParametros.
[[nodiscard]] int LerParametros(struct_parametros& parametros, const std::string& path,
                                UserInterface& ui, Edicao edicao = Edicao::Web);
// Replaces the file with the record's lines. 1 on success; 0 with a message when
// the file cannot be written (an existing file is then left as it was).
[[nodiscard]] int GravarParametros(const struct_parametros& parametros, const std::string& path,
                                   UserInterface& ui, Edicao edicao = Edicao::Web);
// The default values, written to the file: the result of GravarParametros.
[[nodiscard]] int ParametrosPadrao(struct_parametros& parametros, const std::string& path,
                                   UserInterface& ui, Edicao edicao = Edicao::Web);

// "9600" etc.: an optional sign and decimal digits only, within 32 bits.
[[nodiscard]] bool parseConfigInteger(const std::string& text, int& value);
