// Times clsCRC::CalculateFile on the files given: crc_file_time FILE... [--repeat N]

#include "Fingerprint.h"
#include "clsCRC.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>

int main(int argc, char **argv)
{
    int repeat = 1;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else
            files.emplace_back(argv[i]);
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: crc_file_time FILE... [--repeat N]\n");
        return 2;
    }
    clsCRC crc;
    crc.Algorithm(1);
    for (const std::string &file : files) {
        struct stat info = {};
        const double size = ::stat(file.c_str(), &info) == 0 ? double(info.st_size) : 0.0;
        for (int round = 0; round < repeat; ++round) {
            try {
                const auto start = std::chrono::steady_clock::now();
                const CrcResult result = crc.CalculateFile(file);
                const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
                std::printf("%s  %s  %.3f s  %.2f GB/s\n", fingerprintText(result).c_str(), file.c_str(), took.count(),
                            took.count() > 0 ? size / 1e9 / took.count() : 0.0);
            } catch (const CrcError &error) {
                std::fprintf(stderr, "%s: %s\n", file.c_str(), error.what());
                return 1;
            }
        }
    }
    return 0;
}
