#include "gui/windows/jpegimage.h"

#include <csetjmp>
#include <cstdio>

extern "C" {
#include <jpeglib.h>
}

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

// libjpeg's default reaction to a fatal error ends the process; return to
// the decoder instead.
[[noreturn]] void leaveDecoder(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void ignoreMessage(j_common_ptr) {}

// Only plain C data lives in this frame between setjmp and the last libjpeg
// call, so a jump back from libjpeg skips no destructor. The picture is an
// object of the caller's frame.
bool decodeInto(const unsigned char* data, unsigned long size, QImage* picture) {
    jpeg_decompress_struct info{};
    ErrorManager error{};
    info.err = jpeg_std_error(&error.base);
    error.base.error_exit = leaveDecoder;
    error.base.output_message = ignoreMessage;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, size);
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK ||
        static_cast<qint64>(info.image_width) * info.image_height > kMaxJpegPixels) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    *picture = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                      QImage::Format_RGB888);
    if (picture->isNull() || info.output_components != 3) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = picture->scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace

QImage decodeJpeg(const QByteArray& data) {
    if (data.isEmpty()) return {};
    QImage picture;
    if (!decodeInto(reinterpret_cast<const unsigned char*>(data.constData()),
                    static_cast<unsigned long>(data.size()), &picture))
        return {};
    return picture;
}
