// The folder the local sample host serves: sample images, test images and two small pages.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

struct SampleFile {
    const char* path; // relative to the served folder
    qint64 size;      // exact size in bytes
    std::uint64_t seed;
};

// The quick presets fetch /qm/; the about box's test images lie under /test/.
inline constexpr std::array<SampleFile, 10> SampleFiles{{
    {"qm/qm100K.jpg", 102'400, 100},
    {"qm/qm200K.jpg", 204'800, 200},
    {"qm/qm500K.jpg", 512'000, 500},
    {"qm/qm1M.jpg", 1'048'576, 1'000},
    {"qm/qm2M.jpg", 2'097'152, 2'000},
    {"qm/qm4M.jpg", 4'194'304, 4'000},
    {"qm/qm8M.jpg", 8'388'608, 8'000},
    {"qm/qm15M.jpg", 15'728'640, 15'000},
    {"test/big.jpg", 20'971'520, 20'000},
    {"test/sml.jpg", 51'200, 50},
}};

// Writes the sample files and the pages "index.html" and "author/index.html" under `root`,
// creating folders as needed. Each file is replaced whole or not at all. Prints one line per file
// when `verbose`. Throws std::runtime_error on failure.
void WriteSampleSite(const QString& root, bool verbose);
