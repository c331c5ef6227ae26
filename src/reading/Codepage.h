// Conversion between the Windows-1252 bytes of files and wires and the UTF-8
// text of the Linux desktop (file names, window texts).
#pragma once

#include <string>

std::string windows1252ToUtf8(const std::string& bytes);
// Characters Windows-1252 cannot hold, and malformed UTF-8, become '?'.
std::string utf8ToWindows1252(const std::string& text);
// Characters (not bytes) of a UTF-8 text.
size_t utf8CharacterCount(const std::string& text);
