#include "app/SidePicture.h"

#include "platform/Folders.h"

#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <iterator>

#include <jpeglib.h>

namespace tessarin {

namespace {

// Far beyond any side picture; keeps a forged header from asking for gigabytes.
constexpr unsigned long MaxPixels = 40UL * 1000UL * 1000UL;

// libjpeg reports fatal errors through error_exit, which must not return. We jump
// back to the setjmp in DecodeInto; no C++ object with a destructor lives in the
// frames skipped (only libjpeg's C frames and trivial locals).
struct TJpegError {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
    int Warnings;
};

void OnJpegError(j_common_ptr cinfo)
{
    auto* error = reinterpret_cast<TJpegError*>(cinfo->err);
    std::longjmp(error->Jump, 1);
}

// Corrupt-data warnings (a truncated file, for one) still give a picture, padded
// with grey; we count them and treat the picture as bad instead.
void OnJpegMessage(j_common_ptr cinfo, int level)
{
    if (level < 0)
        ++reinterpret_cast<TJpegError*>(cinfo->err)->Warnings;
}

void SilentOutput(j_common_ptr) {}

// Adobe writes CMYK JPEGs inverted; libjpeg hands the samples on as stored.
void CmykRowToRgb(const JSAMPLE* in, uchar* out, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; ++x) {
        int c = in[4 * x], m = in[4 * x + 1], y = in[4 * x + 2], k = in[4 * x + 3];
        if (inverted) {
            out[3 * x] = static_cast<uchar>(c * k / 255);
            out[3 * x + 1] = static_cast<uchar>(m * k / 255);
            out[3 * x + 2] = static_cast<uchar>(y * k / 255);
        } else {
            out[3 * x] = static_cast<uchar>((255 - c) * (255 - k) / 255);
            out[3 * x + 1] = static_cast<uchar>((255 - m) * (255 - k) / 255);
            out[3 * x + 2] = static_cast<uchar>((255 - y) * (255 - k) / 255);
        }
    }
}

// Fills *image (created by the caller) or returns false. Kept free of C++ objects
// with destructors so that the longjmp from OnJpegError is well-defined.
bool DecodeInto(const unsigned char* data, unsigned long size, QImage* image,
                std::vector<JSAMPLE>* rowBuffer)
{
    jpeg_decompress_struct cinfo;
    TJpegError error;
    cinfo.err = jpeg_std_error(&error.Manager);
    error.Manager.error_exit = OnJpegError;
    error.Manager.emit_message = OnJpegMessage;
    error.Manager.output_message = SilentOutput;
    error.Warnings = 0;

    if (setjmp(error.Jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, size);
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    const bool inverted = cmyk && cinfo.saw_Adobe_marker;
    if (static_cast<unsigned long>(cinfo.image_width) * cinfo.image_height > MaxPixels) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_start_decompress(&cinfo);
    const JDIMENSION width = cinfo.output_width;
    const JDIMENSION height = cinfo.output_height;
    const int components = cinfo.output_components;
    if (width == 0 || height == 0 || (components != 3 && components != 4)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    *image = QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB888);
    if (image->isNull()) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    rowBuffer->resize(static_cast<std::size_t>(width) * components);
    while (cinfo.output_scanline < height) {
        const int y = static_cast<int>(cinfo.output_scanline);
        JSAMPROW row =
            components == 3 ? reinterpret_cast<JSAMPROW>(image->scanLine(y)) : rowBuffer->data();
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1)
            break;
        if (components == 4)
            CmykRowToRgb(row, image->scanLine(y), width, inverted);
    }
    const bool complete = cinfo.output_scanline == height;
    if (complete)
        jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return complete && error.Warnings == 0;
}

} // namespace

QImage DecodeJpeg(const std::vector<unsigned char>& data)
{
    if (data.empty())
        return {};
    QImage image;
    std::vector<JSAMPLE> rowBuffer;
    if (!DecodeInto(data.data(), static_cast<unsigned long>(data.size()), &image, &rowBuffer))
        return {};
    return image;
}

QImage LoadJpegFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::vector<unsigned char> data{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
    if (in.bad())
        return {};
    return DecodeJpeg(data);
}

QImage LoadSidePicture(const std::string& programFolder)
{
    const QImage image = LoadJpegFile(programFolder + "side.jpg");
    if (image.isNull())
        return {};
    if (image.width() == SidePictureWidth && image.height() == SidePictureHeight)
        return image;
    return image.scaled(SidePictureWidth, SidePictureHeight, Qt::IgnoreAspectRatio,
                        Qt::SmoothTransformation);
}

} // namespace tessarin
