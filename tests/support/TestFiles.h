#pragma once

#include <string>

// Whole files as byte strings, for tests that check what a program wrote or read (reading a
// file that cannot be opened gives an empty string).
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
