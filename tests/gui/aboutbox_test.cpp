// The About box and the JPEG decoder behind its picture.
#include <gtest/gtest.h>

#include <QFile>

#include "dialogs/aboutbox.h"
#include "dialogs/jpegimage.h"
#include "guitest.h"

namespace {

TEST(AboutBox, ShowsProductVersionAndPicture) {
    TAboutBox box;
    EXPECT_EQ(box.windowTitle(), "AboutBox");
    EXPECT_EQ(box.size(), QSize(306, 242));
    EXPECT_EQ(box.ProductName->text(), "QM730C");
    EXPECT_EQ(box.Version->text(), "Version 1.6.1 ( 2005.3.17)");
    EXPECT_FALSE(box.Copyright->text().isEmpty());
    EXPECT_TRUE(box.Comments->wordWrap());
    EXPECT_EQ(box.ProgramIcon->size(), QSize(65, 57));
    EXPECT_FALSE(box.ProgramIcon->pixmap().isNull());
    EXPECT_TRUE(box.OKButton->isDefault());
    QTimer::singleShot(0, box.OKButton, &QPushButton::click);
    EXPECT_EQ(box.exec(), QDialog::Accepted);
}

TEST(AboutBox, OpensFromTheMenu) {
    MainWindowFixture f;
    bool shown = false;
    QTimer::singleShot(0, [&] {
        shown = f.form->windows().aboutBox->isVisible();
        f.form->windows().aboutBox->accept();
    });
    f.form->About1->trigger();
    EXPECT_TRUE(shown);
}

QByteArray picture() {
    QFile file(":/dialogs/programicon.jpg");
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
