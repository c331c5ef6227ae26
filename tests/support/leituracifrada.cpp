#include "leituracifrada.h"

#include "Readingfile.h"
#include "testsupport.h"

#include <openssl/evp.h>

bool decifrarLeitura(const std::string& cifra, std::string& texto) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (ctx == nullptr)
        return false;
    const unsigned char iv[16] = {};
    std::string saida(cifra.size() + 16, '\0');
    int n = 0;
    int fim = 0;
    auto* destino = reinterpret_cast<unsigned char*>(saida.data());
    const bool ok =
        EVP_DecryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr,
                           reinterpret_cast<const unsigned char*>(kReadingKey), iv) == 1 &&
        EVP_DecryptUpdate(ctx, destino, &n, reinterpret_cast<const unsigned char*>(cifra.data()),
                          static_cast<int>(cifra.size())) == 1 &&
        EVP_DecryptFinal_ex(ctx, destino + n, &fim) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (ok)
        texto = saida.substr(0, static_cast<std::size_t>(n + fim));
    return ok;
}

std::string diferencaDaLeitura(const std::string& caminho, const std::string& esperado) {
    if (!fileExists(caminho))
        return caminho + " is missing";
    std::string texto;
    if (!decifrarLeitura(readFileBytes(caminho), texto))
        return caminho + " does not decipher";
    const std::string golden = readFileBytes(testDataPath(esperado));
    if (golden.empty())
        return "no golden text " + esperado;
    if (texto == golden)
        return {};
    std::size_t linha = 1;
    std::size_t i = 0;
    for (; i < texto.size() && i < golden.size() && texto[i] == golden[i]; ++i)
        if (texto[i] == '\n')
            ++linha;
    const auto trecho = [i](const std::string& s) {
        const std::size_t inicio = s.rfind('\n', i == 0 ? 0 : i - 1);
        const std::size_t de = inicio == std::string::npos ? 0 : inicio + 1;
        return s.substr(de, s.find('\r', de) - de);
    };
    return caminho + " differs from " + esperado + " at line " + std::to_string(linha) +
           ":\n  got:      " + trecho(texto) + "\n  expected: " + trecho(golden);
}
