// The About box and the JPEG decoder behind its picture.
#include <gtest/gtest.h>

#include <QFile>

#include "gui/windows/aboutbox.h"
#include "gui/windows/jpegimage.h"
#include "guitest.h"

namespace {

// Opened from the menu it shows the product, the version and the picture,
// and OK closes it.
TEST(AboutBox, OpensFromTheMenuWithVersionAndPicture) {
    MainWindowFixture f;
    TAboutBox* box = f.form->windows().aboutBox;
    bool shown = false;
    QTimer::singleShot(0, [&] {
        shown = box->isVisible();
        box->OKButton->click();
    });
    f.form->About1->trigger();
    EXPECT_TRUE(shown);
    EXPECT_EQ(box->result(), QDialog::Accepted);
    EXPECT_EQ(box->ProductName->text(), "QM730C");
    EXPECT_EQ(box->Version->text(), "Version 1.6.1 ( 2005.3.17)");
    EXPECT_FALSE(box->ProgramIcon->pixmap().isNull());
}

QByteArray picture() {
    QFile file(":/windows/programicon.jpg");
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(JpegDecoder, DecodesThePictureAndRefusesDamagedData) {
    TAboutBox box;  // registers the picture's resource
    const QByteArray jpeg = picture();
    ASSERT_FALSE(jpeg.isEmpty());
    const QImage image = decodeJpeg(jpeg);
    EXPECT_EQ(image.size(), QSize(65, 57));
    EXPECT_GT(qBlue(image.pixel(2, 2)), qRed(image.pixel(2, 2))) << "the picture is blue";

    EXPECT_TRUE(decodeJpeg(QByteArray()).isNull());
    EXPECT_TRUE(decodeJpeg(QByteArray("not a picture at all")).isNull());
    EXPECT_TRUE(decodeJpeg(jpeg.left(20)).isNull());
    QByteArray scrambled = jpeg;
    for (qsizetype i = 200; i < scrambled.size(); i += 7) scrambled[i] = static_cast<char>(scrambled[i] ^ 0x5A);
    decodeJpeg(scrambled);  // may decode garbage pixels; must not crash or read out of bounds

    // A header claiming an enormous picture is refused before any allocation.
    QByteArray huge = jpeg;
    const qsizetype sof = huge.indexOf("\xFF\xC0");
    ASSERT_GE(sof, 0);
    huge[sof + 5] = '\xFF';
    huge[sof + 6] = '\xF0';
    huge[sof + 7] = '\xFF';
    huge[sof + 8] = '\xF0';
    EXPECT_TRUE(decodeJpeg(huge).isNull());
}

}  // namespace
