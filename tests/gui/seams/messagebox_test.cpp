// The message box seam and the display of escaped exceptions.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QMessageBox>
#include <QObject>

#include <stdexcept>

#include "gui/app/application.h"
#include "gui/seams/filedialog.h"
#include "gui/seams/messagebox.h"

namespace {

using qm730::NoticeAnswer;

TEST(MessageBoxSeam, RecordsEveryNoticeAndAnswersFromTheQueue) {
    MessageBox::clearShown();
    MessageBox::setNextAnswer(NoticeAnswer::Cancel);
    EXPECT_EQ(MessageBox::show(nullptr, qm730::warningNotice("More then 7 digit !")), NoticeAnswer::Cancel);
    EXPECT_EQ(MessageBox::show(nullptr, qm730::warningNotice("again")), NoticeAnswer::Retry) << "default button";
    EXPECT_EQ(MessageBox::show(nullptr, qm730::plainNotice("Please Input Decimal!")), NoticeAnswer::Ok);
    ASSERT_EQ(MessageBox::shown().size(), 3u);
    EXPECT_EQ(MessageBox::shown()[0].text, "More then 7 digit !");
    EXPECT_EQ(MessageBox::shown()[0].caption, "Warning!");
    EXPECT_EQ(MessageBox::shown()[2].caption, "QM730C");
    MessageBox::clearShown();
    EXPECT_TRUE(MessageBox::shown().empty());
}

TEST(FileDialogSeam, AnswersQueuedNamesAndCancelsWhenNoneIsLeft) {
    FileDialog::clearRequests();
    FileDialog::setNextFileName("/tmp/a.tbl");
    EXPECT_EQ(FileDialog::getSaveFileName(nullptr, "Save", "/start", "*.tbl"), "/tmp/a.tbl");
    EXPECT_TRUE(FileDialog::getOpenFileName(nullptr, "Open", "/start", "*.*").isEmpty());
    ASSERT_EQ(FileDialog::requests().size(), 2u);
    EXPECT_EQ(FileDialog::requests()[0].kind, FileDialogRequest::Kind::Save);
    EXPECT_EQ(FileDialog::requests()[1].directory, "/start");
}

// Narrow boxes are sized to their text; the caption must not be cut short in
// the title bar, where the window manager draws it (bold, as most do) beside
// the window's icon and three buttons: a good 100 pixels beyond the caption.
TEST(MessageBoxLook, IsWideEnoughForItsWholeCaption) {
    const qm730::Notice notices[] = {
        {"Open Port Error!!", "Comm Error", qm730::NoticeButtons::Ok, qm730::NoticeIcon::None},
        {"Command & Response Error!!!", "Transfermission Error", qm730::NoticeButtons::Ok, qm730::NoticeIcon::None},
        {"Port Setting Error!!!", "Set Error", qm730::NoticeButtons::Ok, qm730::NoticeIcon::None},
        {"More then 99 !", "Warning!", qm730::NoticeButtons::RetryCancel, qm730::NoticeIcon::Stop},
    };
    QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
    titleFont.setBold(true);
    for (const qm730::Notice& notice : notices) {
        SCOPED_TRACE(notice.caption);
        const std::unique_ptr<QMessageBox> box = MessageBox::build(nullptr, notice);
        box->show();
        QApplication::processEvents();
        EXPECT_EQ(box->windowTitle().toStdString(), notice.caption);
        EXPECT_EQ(box->text().toStdString(), notice.text);
        const int caption = QFontMetrics(titleFont).horizontalAdvance(QString::fromStdString(notice.caption));
        EXPECT_GE(box->width(), caption + 100);
        EXPECT_LT(box->width(), caption + 400) << "and not much wider";
        box->close();
    }
}

class Throwing : public QObject {
public:
    bool foreign = false;
    bool event(QEvent* e) override {
        if (e->type() != QEvent::User) return QObject::event(e);
        if (foreign) throw 42;
        throw std::runtime_error("'12a' is not a valid integer value");
    }
};

TEST(EscapedExceptions, AreShownAndTheProgramGoesOn) {
    MessageBox::clearShown();
    Throwing receiver;
    QEvent first(QEvent::User);
    QCoreApplication::sendEvent(&receiver, &first);
    receiver.foreign = true;
    QEvent second(QEvent::User);
    QCoreApplication::sendEvent(&receiver, &second);
    ASSERT_EQ(MessageBox::shown().size(), 2u);
    EXPECT_EQ(MessageBox::shown()[0].text, "'12a' is not a valid integer value");
    EXPECT_EQ(MessageBox::shown()[0].icon, qm730::NoticeIcon::Stop);
    EXPECT_EQ(MessageBox::shown()[1].text, "");
}

}  // namespace
