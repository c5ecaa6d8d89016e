#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The whole content of a file as the tests compare it byte for byte; empty when it cannot be read.
inline std::vector<uint8_t> readFile(const std::string &name) {
    std::vector<uint8_t> data;
    FILE *fp = std::fopen(name.c_str(), "rb");
    if (!fp)
        return data;
    int c;
    while ((c = std::fgetc(fp)) != EOF)
        data.push_back(uint8_t(c));
    std::fclose(fp);
    return data;
}
