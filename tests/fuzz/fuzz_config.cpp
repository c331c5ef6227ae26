// The configuration file ini/krvw.ini as anyone may have left it: the input is
// written as the whole file and loaded by LerParametros, in the WEB edition and
// in the ERP edition. Whatever the file held, the loader must come back with a
// complete configuration and a file on disk that agrees with it: a file it
// read, written back and read again, gives the same record without a message;
// a file it replaced loads as the default values.
#include "Parametros.h"
#include "fuzzsupport.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

void writeConfig(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    check(file != nullptr);
    if (size > 0)
        check(std::fwrite(data, 1, size, file) == size);
    check(std::fclose(file) == 0);
}

bool same(const struct_parametros& a, const struct_parametros& b) {
    return a.modeloTracer == b.modeloTracer && a.portaTcp == b.portaTcp &&
           a.portaSerial == b.portaSerial && a.caminhoLeitura == b.caminhoLeitura &&
           a.baudRate == b.baudRate && a.noMsg == b.noMsg;
}

bool isDefault(const struct_parametros& p, Edicao edicao) {
    const bool web = edicao == Edicao::Erp || (p.caminhoLeitura.empty() && !p.noMsg);
    return web && p.modeloTracer == 1 && p.portaTcp == 55555 && p.portaSerial.empty() &&
           p.baudRate == "9600";
}

void loadAndCheck(const std::string& path, const uint8_t* data, size_t size, Edicao edicao) {
    writeConfig(path, data, size);
    QuietUi ui;
    struct_parametros loaded;
    const int result = LerParametros(loaded, path, ui, edicao);
    // The scratch folder is writable: the file is read, or replaced by the defaults.
    check(result == 1);
    const bool replaced = ui.messages > 0 || size == 0;
    if (replaced)
        check(isDefault(loaded, edicao));

    // What is on disk now loads to the same record, silently. A record with a
    // text too long to be written keeps the user's file, which loads as before.
    QuietUi again;
    if (GravarParametros(loaded, path, again, edicao) != 1)
        check(again.messages == 1);
    struct_parametros reloaded;
    QuietUi quiet;
    check(LerParametros(reloaded, path, quiet, edicao) == 1);
    check(quiet.messages == 0);
    check(same(loaded, reloaded));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzzScratchDir() + "/krvw.ini";
    loadAndCheck(path, data, size, Edicao::Web);
    loadAndCheck(path, data, size, Edicao::Erp);
    return 0;
}
