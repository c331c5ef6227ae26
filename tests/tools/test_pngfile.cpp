// krvw-tool's PNG writer, read back by Qt's own decoder (which checks every
// chunk's CRC and the zlib stream) and compared pixel by pixel with the BMP.
#include "Pngfile.h"

#include "Bmpdrawclass.h"
#include "Frameimage.h"
#include "Labelparser.h"
#include "testsupport.h"

#include <QImage>
#include <QtTest>

#include <memory>

namespace {

QImage decoded(const unsigned char* bytes, size_t size, const char* format) {
    return QImage::fromData(bytes, static_cast<int>(size), format)
        .convertToFormat(QImage::Format_RGB32);
}

QImage decoded(const std::string& bytes, const char* format) {
    return decoded(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), format);
}

// The PNG made from `bmp` shows the same pixels as Qt's reading of the BMP.
void pngMatchesBmp(const unsigned char* bmp, size_t size) {
    RgbImage image;
    std::string reason;
    QVERIFY2(bmpToRgb(bmp, size, image, reason), reason.c_str());
    std::string png;
    QVERIFY(encodePng(image, png));
    const QImage expected = decoded(bmp, size, "BMP");
    const QImage actual = decoded(png, "PNG");
    QVERIFY(!expected.isNull());
    QVERIFY(!actual.isNull());
    QCOMPARE(actual.size(), expected.size());
    QCOMPARE(actual, expected);
}

// A 3 x 2 picture: rows of 9 bytes padded to 12, every pixel its own colour.
std::vector<unsigned char> smallBmp() {
    BMPDRAW draw;
    static_cast<void>(draw.setSize(3, 2)); // 3 x 2 always fits; toBmp would fail otherwise
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            draw.setPixel(x, y, BMPDRAW::makeColour(40 * x + 10, 100 * y + 20, 7 * x + 3 * y));
    const unsigned char* bytes = nullptr;
    int size = 0;
    if (draw.toBmp(bytes, size) != 0)
        return {};
    return std::vector<unsigned char>(bytes, bytes + size);
}

} // namespace

class TestPngfile : public QObject {
    Q_OBJECT

private slots:
    void crcOfTheCheckString() {
        const char* check = "123456789"; // the CRC-32 catalogue's check value
        QCOMPARE(crc32(reinterpret_cast<const unsigned char*>(check), 9), 0xCBF43926u);
    }

    void framePictureOfAReading() {
        const std::string labels = readFileBytes(testDataPath("reading/realistic.labels"));
        auto record = std::make_unique<struct_tracedata>();
        parseTraceLabels(*record, labels.c_str());
        computeGeometry(*record);
        auto bmp = std::make_unique<unsigned char[]>(kFrameImageCapacity);
        int size = 0;
        QCOMPARE(renderFrameImage(*record, bmp.get(), size), 0);
        // 256 rows of 1 + 1536 bytes: several stored blocks of at most 65535 bytes.
        pngMatchesBmp(bmp.get(), static_cast<size_t>(size));
    }

    void paddedRows() {
        const std::vector<unsigned char> bmp = smallBmp();
        pngMatchesBmp(bmp.data(), bmp.size());
    }

    void topDownRows() {
        std::vector<unsigned char> bmp = smallBmp();
        const std::vector<unsigned char> bottomUp = bmp;
        // Height -2 (little-endian) and the two 12-byte rows swapped.
        const unsigned char minusTwo[4] = {0xFE, 0xFF, 0xFF, 0xFF};
        std::copy(minusTwo, minusTwo + 4, bmp.begin() + 22);
        std::copy(bottomUp.begin() + 54, bottomUp.begin() + 66, bmp.begin() + 66);
        std::copy(bottomUp.begin() + 66, bottomUp.begin() + 78, bmp.begin() + 54);
        RgbImage a;
        RgbImage b;
        std::string reason;
        QVERIFY(bmpToRgb(bmp.data(), bmp.size(), a, reason));
        QVERIFY(bmpToRgb(bottomUp.data(), bottomUp.size(), b, reason));
        QVERIFY(a.pixels == b.pixels);
        QCOMPARE(a.pixels[0], static_cast<unsigned char>(10)); // red of pixel 0, 0
    }

    void damagedBmpsAreRefused() {
        const std::vector<unsigned char> good = smallBmp();
        RgbImage image;
        std::string reason;
        QVERIFY(!bmpToRgb(good.data(), good.size() - 1, image, reason));
        QCOMPARE(reason, std::string("pixel rows past the end of the file"));
        QVERIFY(!bmpToRgb(good.data(), 20, image, reason));
        QCOMPARE(reason, std::string("not a BMP file"));
        std::vector<unsigned char> bad = good;
        bad[28] = 8; // 8 bits per pixel
        QVERIFY(!bmpToRgb(bad.data(), bad.size(), image, reason));
        QCOMPARE(reason, std::string("not an uncompressed 24-bit BMP"));
        bad = good;
        bad[18] = 0; // width 0
        QVERIFY(!bmpToRgb(bad.data(), bad.size(), image, reason));
        QCOMPARE(reason, std::string("picture size out of range"));
        bad = good;
        bad[10] = 0xFF; // pixel data offset past the end
        bad[11] = 0xFF;
        QVERIFY(!bmpToRgb(bad.data(), bad.size(), image, reason));
    }

    void impossibleImagesAreNotEncoded() {
        std::string png;
        RgbImage image;
        QVERIFY(!encodePng(image, png));
        image.width = 2;
        image.height = 2;
        image.pixels.assign(11, 0); // one byte short of 2 x 2 x 3
        QVERIFY(!encodePng(image, png));
    }
};

QTEST_GUILESS_MAIN(TestPngfile)
#include "test_pngfile.moc"
