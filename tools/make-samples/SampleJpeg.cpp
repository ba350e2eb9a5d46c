// Baseline JPEG images of an exact byte size whose bytes do not compress.
#include "SampleJpeg.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>

namespace {

constexpr int Quality = 100;
constexpr int McuSide = 16;          // 2 x 2 chroma subsampling: one MCU covers 16 x 16 pixels
constexpr qint64 SegmentMax = 65537; // marker, length field and 65,533 payload bytes
constexpr qint64 SegmentMin = 4;     // marker and length field alone
constexpr double FillTarget = 0.985; // aim the picture at this share of the file
constexpr double FillEnough = 0.96;  // stop refining once the picture fills this much
constexpr int MaxAttempts = 8;

// Coloured noise: every pixel three bytes of a seeded Mersenne Twister, whose sequence is fixed
// by the C++ standard, so the picture (and the file) is the same on every machine.
QImage NoisePicture(int width, int height, std::uint64_t seed) {
    QImage picture(width, height, QImage::Format_RGB32);
    picture.setDotsPerMeterX(2835); // 72 dpi, written into the JFIF header
    picture.setDotsPerMeterY(2835);
    std::mt19937_64 random(seed);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<quint32*>(picture.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = 0xff000000u | static_cast<quint32>(random() & 0xffffffu);
    }
    return picture;
}

QByteArray Encode(const QImage& picture) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(Quality);
    writer.setOptimizedWrite(true);
    writer.setProgressiveScanWrite(false);
    if (!writer.write(picture))
        throw std::runtime_error("cannot encode JPEG: " + writer.errorString().toStdString());
    return bytes;
}

// A 4:3 picture of about `pixels` pixels, whole MCUs on both sides.
std::pair<int, int> Shape(double pixels) {
    const double mcus = std::max(1.0, pixels / (McuSide * McuSide));
    const int rows = std::max(1, static_cast<int>(std::lround(std::sqrt(mcus * 3.0 / 4.0))));
    const int columns = std::max(1, static_cast<int>(mcus / rows));
    return {columns * McuSide, rows * McuSide};
}

// Where padding may go: after SOI and the APPn segments that open the file (JFIF must stay
// first), before the tables.
qsizetype PaddingOffset(const QByteArray& jpeg) {
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(jpeg.at(i)); };
    if (jpeg.size() < 4 || byte(0) != 0xff || byte(1) != 0xd8)
        throw std::runtime_error("encoder output does not start with SOI");
    qsizetype offset = 2;
    while (offset + 4 <= jpeg.size() && byte(offset) == 0xff && byte(offset + 1) >= 0xe0 &&
           byte(offset + 1) <= 0xef)
        offset += 2 + (byte(offset + 2) << 8 | byte(offset + 3));
    if (offset > jpeg.size())
        throw std::runtime_error("encoder output has a truncated APPn segment");
    return offset;
}

// `gap` bytes (at least 4) of APP15 segments holding pseudo-random payload.
QByteArray Padding(qint64 gap, std::uint64_t seed) {
    QByteArray padding;
    padding.reserve(gap);
    std::mt19937_64 random(seed ^ 0x9e3779b97f4a7c15ull);
    const qint64 segments = (gap + SegmentMax - 1) / SegmentMax;
    for (qint64 i = 0; i < segments; ++i) {
        // Spread evenly: with more than one segment each is far above the 4-byte minimum.
        const qint64 size = gap / segments + (i < gap % segments ? 1 : 0);
        const qint64 length = size - 2;
        padding.append(char(0xff)).append(char(0xef));
        padding.append(char(length >> 8)).append(char(length & 0xff));
        for (qint64 k = 2; k < length; ++k)
            padding.append(static_cast<char>(random() & 0xff));
    }
    return padding;
}

} // namespace

QByteArray MakeSampleJpeg(qint64 size, std::uint64_t seed) {
    if (size < SampleJpegMinimumSize)
        throw std::runtime_error("a sample JPEG needs at least " +
                                 std::to_string(SampleJpegMinimumSize) + " bytes");
    const qint64 limit = size - SegmentMin; // the gap must hold at least one segment

    // Bytes per pixel of this kind of picture, from a small probe.
    const QByteArray probe = Encode(NoisePicture(256, 256, seed));
    const QByteArray tiny = Encode(NoisePicture(McuSide, McuSide, seed));
    const double perPixel = double(probe.size() - tiny.size()) / (256 * 256 - McuSide * McuSide);
    double pixels = (limit * FillTarget - tiny.size()) / perPixel;

    QByteArray best = tiny.size() <= limit ? tiny : QByteArray();
    for (int attempt = 0; attempt < MaxAttempts; ++attempt) {
        const auto [width, height] = Shape(pixels);
        const QByteArray jpeg = Encode(NoisePicture(width, height, seed));
        if (jpeg.size() <= limit && jpeg.size() > best.size())
            best = jpeg;
        if (best.size() >= limit * FillEnough)
            break;
        pixels *= limit * FillTarget / jpeg.size();
    }
    if (best.isEmpty())
        throw std::runtime_error("cannot fit a picture into " + std::to_string(size) + " bytes");

    const qsizetype at = PaddingOffset(best);
    best.insert(at, Padding(size - best.size(), seed));
    return best;
}
