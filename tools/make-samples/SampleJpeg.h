// Baseline JPEG images of an exact byte size whose bytes do not compress.
#pragma once

#include <QByteArray>
#include <cstdint>

// Smallest size MakeSampleJpeg can reach: one 16 x 16 picture and its tables.
inline constexpr qint64 SampleJpegMinimumSize = 4096;

// A baseline JPEG of exactly `size` bytes: a noise picture encoded at quality 100 to just under
// `size`, the rest filled with APP15 segments of pseudo-random bytes that decoders skip. The same
// size and seed give the same bytes. Throws std::runtime_error when the size cannot be met.
QByteArray MakeSampleJpeg(qint64 size, std::uint64_t seed);
