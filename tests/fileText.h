// Whole files as text, for tests of every area.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

// The file's bytes, or "<missing>" when it cannot be opened.
inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

inline void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}
