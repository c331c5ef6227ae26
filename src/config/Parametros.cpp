#include "Parametros.h"

#include "Atomicfile.h"
#include "Codepage.h"
#include "Funcoesgerais.h"
#include "Userinterface.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <memory>
#include <unistd.h>

const char* const kMessageParametrosInvalidos =
    "Arquivo de Parâmetros inválido. Será criado um novo Arquivo de Parâmetros com valores padrão.";
const char* const kMessageParametrosNaoGravados =
    "Não foi possível gravar os Parâmetros. Por favor, verifique se possui acesso ao diretório.";
const char* const kMessageParametroLongo =
    "Não foi possível gravar os Parâmetros: a porta serial e o caminho de leitura devem ter no "
    "máximo 259 caracteres.";

namespace {

enum ReadResult { kReadMissing, kReadEmpty, kReadTooLong, kReadDone };

// The whole file into `buffer` (kConfigFileMax bytes); the length in `length`.
ReadResult readConfigFile(const std::string& path, char* buffer, int& length) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return kReadMissing;
    // One byte more than the limit tells a file that is too long, without
    // trusting a size that may change under us.
    char probe[kConfigFileMax + 1];
    const size_t n = std::fread(probe, 1, sizeof probe, file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return kReadMissing;
    if (n == 0)
        return kReadEmpty;
    if (n > static_cast<size_t>(kConfigFileMax))
        return kReadTooLong;
    std::copy(probe, probe + n, buffer);
    length = static_cast<int>(n);
    return kReadDone;
}

bool readInteger(const LineField& lines, const char* key, int& value) {
    const int i = lines.find(key);
    return i >= 0 && parseConfigInteger(lines.value(i), value);
}

bool readText(const LineField& lines, const char* key, std::string& value) {
    const int i = lines.find(key);
    if (i < 0)
        return false;
    value = windows1252ToUtf8(lines.value(i));
    return true;
}

// The keys in their order of checking; false at the first missing or malformed one.
bool fillFromLines(const LineField& lines, struct_parametros& p, Edicao edicao) {
    if (!readInteger(lines, "MODELOTRACER", p.modeloTracer) ||
        !readInteger(lines, "PORTATCP", p.portaTcp) ||
        !readText(lines, "PORTASERIAL", p.portaSerial) || !readText(lines, "BAUDRATE", p.baudRate))
        return false;
    // Optional: 1 or 4 is kept, anything else is as if the line were not there.
    int formato = 0;
    p.formatoDcs =
        readInteger(lines, "FORMATODCS", formato) && (formato == 1 || formato == 4) ? formato : 0;
    if (edicao == Edicao::Erp)
        return true;
    if (!readText(lines, "CAMINHOLEITURA", p.caminhoLeitura))
        return false;
    const int noMsg = lines.find("NOMSG");
    p.noMsg = noMsg >= 0 && cAtol(lines.value(noMsg)) == 1;
    return true;
}

} // namespace

bool parseConfigInteger(const std::string& text, int& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    // from_chars takes a minus sign but no plus sign.
    if (first != last && *first == '+') {
        ++first;
        if (first != last && *first == '-')
            return false;
    }
    if (first == last)
        return false;
    int parsed = 0;
    const auto result = std::from_chars(first, last, parsed, 10);
    if (result.ec != std::errc() || result.ptr != last)
        return false;
    value = parsed;
    return true;
}

std::string CaminhoIni(const std::string& executablePath) {
    const size_t slash = executablePath.rfind('/');
    const std::string directory =
        slash == std::string::npos ? std::string("./") : executablePath.substr(0, slash + 1);
    return directory + "ini/krvw.ini";
}

std::string CaminhoIni() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return CaminhoIni(std::string());
    path[n] = '\0';
    return CaminhoIni(std::string(path));
}

int LerParametros(struct_parametros& parametros, const std::string& path, UserInterface& ui,
                  Edicao edicao) {
    char contents[kConfigFileMax];
    int length = 0;
    const ReadResult read = readConfigFile(path, contents, length);
    if (read == kReadTooLong) {
        ui.showMessage(kMessageParametrosInvalidos);
    } else if (read == kReadDone) {
        auto lines = std::make_unique<LineField>();
        lines->load(contents, length);
        if (fillFromLines(*lines, parametros, edicao))
            return 1;
        ui.showMessage(kMessageParametrosInvalidos);
    }
    return ParametrosPadrao(parametros, path, ui, edicao);
}

int GravarParametros(const struct_parametros& parametros, const std::string& path,
                     UserInterface& ui, Edicao edicao) {
    if (utf8CharacterCount(parametros.portaSerial) > static_cast<size_t>(kConfigTextMax) ||
        utf8CharacterCount(parametros.caminhoLeitura) > static_cast<size_t>(kConfigTextMax) ||
        utf8CharacterCount(parametros.baudRate) > static_cast<size_t>(kConfigTextMax)) {
        ui.showMessage(kMessageParametroLongo);
        return 0;
    }
    std::string text;
    text += "MODELOTRACER=" + std::to_string(parametros.modeloTracer) + "\r\n";
    text += "PORTATCP=" + std::to_string(parametros.portaTcp) + "\r\n";
    text += "PORTASERIAL=" + utf8ToWindows1252(parametros.portaSerial) + "\r\n";
    text += "BAUDRATE=" + utf8ToWindows1252(parametros.baudRate) + "\r\n";
    if (edicao == Edicao::Web) {
        text += "CAMINHOLEITURA=" + utf8ToWindows1252(parametros.caminhoLeitura) + "\r\n";
        text += std::string("NOMSG=") + (parametros.noMsg ? "1" : "0") + "\r\n";
    }
    if (parametros.formatoDcs != 0)
        text += "FORMATODCS=" + std::to_string(parametros.formatoDcs) + "\r\n";
    // A new file is readable by every user of the lab; one being replaced keeps
    // the permissions it was given.
    AtomicWriteMode how;
    how.keepExistingMode = true;
    if (writeFileAtomically(path, text.data(), text.size(), how) != kWriteDone) {
        ui.showMessage(kMessageParametrosNaoGravados);
        return 0;
    }
    return 1;
}

int ParametrosPadrao(struct_parametros& parametros, const std::string& path, UserInterface& ui,
                     Edicao edicao) {
    parametros.modeloTracer = 1;
    parametros.portaTcp = 55555;
    parametros.portaSerial.clear();
    parametros.baudRate = "9600";
    parametros.caminhoLeitura.clear();
    parametros.noMsg = false;
    parametros.formatoDcs = 0;
    return GravarParametros(parametros, path, ui, edicao);
}
