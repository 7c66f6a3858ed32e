// Decoding the side picture: the shipped file, other sizes and colour spaces, and
// files that are broken in the ways files break.

#include "AppTestSupport.h"

#include "app/SidePicture.h"

#include <QLabel>
#include <QtTest>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

using namespace tessarin;
using namespace tessarin::test;

namespace {

std::vector<unsigned char> ReadBytes(const std::filesystem::path& path)
{
    const std::string text = ReadFile(path);
    return {text.begin(), text.end()};
}

// A JPEG of a single colour, written with libjpeg itself. samples holds one pixel.
std::vector<unsigned char> EncodeJpeg(int width, int height, J_COLOR_SPACE space,
                                      const std::vector<unsigned char>& pixel)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = int(pixel.size());
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<unsigned char> row;
    for (int x = 0; x < width; ++x)
        row.insert(row.end(), pixel.begin(), pixel.end());
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<unsigned char> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

bool Near(QColor actual, QColor expected)
{
    return std::abs(actual.red() - expected.red()) < 8 &&
           std::abs(actual.green() - expected.green()) < 8 &&
           std::abs(actual.blue() - expected.blue()) < 8;
}

} // namespace

class SidePictureTest : public QObject {
    Q_OBJECT

private slots:
    void init() { folder_ = std::make_unique<TProgramFolder>(); }
    void cleanup() { folder_.reset(); }

    void shippedPictureDecodes();
    void otherSizesAreStretched();
    void colourSpaces();
    void brokenFilesGiveNoPicture_data();
    void brokenFilesGiveNoPicture();
    void windowWithoutPicture();

private:
    std::unique_ptr<TProgramFolder> folder_;
};

void SidePictureTest::shippedPictureDecodes()
{
    const QImage image = LoadJpegFile(TESSARIN_SOURCE_DIR "/data/side.jpg");
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(SidePictureWidth, SidePictureHeight));
    QCOMPARE(LoadSidePicture(folder_->Program()).size(),
             QSize(SidePictureWidth, SidePictureHeight));

    TFormUnderTest t(*folder_);
    const QPixmap shown = t.Find<QLabel>(wiz::Picture)->pixmap();
    QCOMPARE(shown.size(), QSize(SidePictureWidth, SidePictureHeight));
}

void SidePictureTest::otherSizesAreStretched()
{
    const auto jpeg = EncodeJpeg(40, 60, JCS_RGB, {200, 30, 40});
    const std::string text(jpeg.begin(), jpeg.end());
    folder_->WriteProgramFile("side.jpg", text);
    const QImage image = LoadSidePicture(folder_->Program());
    QCOMPARE(image.size(), QSize(SidePictureWidth, SidePictureHeight));
    QVERIFY(Near(image.pixelColor(60, 120), QColor(200, 30, 40)));
}

void SidePictureTest::colourSpaces()
{
    const QImage grey = DecodeJpeg(EncodeJpeg(16, 16, JCS_GRAYSCALE, {128}));
    QVERIFY(!grey.isNull());
    QVERIFY(Near(grey.pixelColor(8, 8), QColor(128, 128, 128)));

    // libjpeg marks CMYK output as Adobe's, whose samples are stored inverted:
    // red is C=0 M=1 Y=1 K=0, stored as 255, 0, 0, 255.
    const QImage cmyk = DecodeJpeg(EncodeJpeg(16, 16, JCS_CMYK, {255, 0, 0, 255}));
    QVERIFY(!cmyk.isNull());
    QVERIFY2(Near(cmyk.pixelColor(8, 8), QColor(255, 0, 0)),
             qPrintable(cmyk.pixelColor(8, 8).name()));
}

void SidePictureTest::brokenFilesGiveNoPicture_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("empty") << 0;
    QTest::newRow("not a JPEG") << 1;
    QTest::newRow("truncated") << 2;
    QTest::newRow("header only") << 3;
    QTest::newRow("forged huge size") << 4;
    QTest::newRow("scrambled body") << 5;
}

void SidePictureTest::brokenFilesGiveNoPicture()
{
    QFETCH(int, kind);
    std::vector<unsigned char> data = ReadBytes(TESSARIN_SOURCE_DIR "/data/side.jpg");
    QVERIFY(data.size() > 1000);
    switch (kind) {
    case 0:
        data.clear();
        break;
    case 1:
        data.assign({'G', 'I', 'F', '8', '9', 'a', 0, 1, 2, 3});
        break;
    case 2:
        data.resize(data.size() / 2);
        break;
    case 3:
        data.resize(20);
        break;
    case 4:
        // Width and height in the frame header become 65500 x 65500.
        for (std::size_t i = 0; i + 8 < data.size(); ++i)
            if (data[i] == 0xFF && (data[i + 1] == 0xC0 || data[i + 1] == 0xC2)) {
                data[i + 5] = 0xFF, data[i + 6] = 0xDC, data[i + 7] = 0xFF, data[i + 8] = 0xDC;
                break;
            }
        break;
    default:
        // Garbage after the headers: the entropy-coded data no longer decodes cleanly.
        for (std::size_t i = data.size() / 3; i < data.size() - 2; i += 7)
            data[i] = static_cast<unsigned char>(i * 31);
        break;
    }
    QVERIFY(DecodeJpeg(data).isNull());

    const std::string text(data.begin(), data.end());
    folder_->WriteProgramFile("side.jpg", text);
    QVERIFY(LoadSidePicture(folder_->Program()).isNull());
}

void SidePictureTest::windowWithoutPicture()
{
    std::filesystem::remove(folder_->ProgramFile("side.jpg"));
    QVERIFY(LoadJpegFile(folder_->ProgramFile("side.jpg").string()).isNull());
    TFormUnderTest t(*folder_);
    QVERIFY(t.Find<QLabel>(wiz::Picture)->pixmap().isNull());
    // The picture is not a required file: the window starts without it.
    t.Form->show();
    QVERIFY(t.Boxes.Calls.empty());
    QVERIFY(t.Exits.empty());
}

QTEST_MAIN(SidePictureTest)
#include "tst_sidepicture.moc"
