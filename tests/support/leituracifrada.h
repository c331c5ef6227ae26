// Reading files as the lab system sees them: deciphered by OpenSSL (AES-128-CBC,
// PKCS #7), independently of the program's own cipher.
#pragma once

#include <string>

// The plain text of a reading file's bytes; false when they do not decipher.
bool decifrarLeitura(const std::string& cifra, std::string& texto);

// Empty when the reading file at `caminho` deciphers to exactly the golden text
// tests/data/`esperado`; else what is wrong (and, for a different text, the
// first line that differs).
std::string diferencaDaLeitura(const std::string& caminho, const std::string& esperado);
