#include "gui/seams/messagebox.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QString>

#include <deque>

namespace {

using qm730::Notice;
using qm730::NoticeAnswer;
using qm730::NoticeButtons;
using qm730::NoticeIcon;

struct Script {
    bool active = false;
    std::deque<NoticeAnswer> answers;
    std::vector<Notice> shown;
};

Script& script() {
    static Script instance;
    return instance;
}

NoticeAnswer defaultAnswer(NoticeButtons buttons) {
    return buttons == NoticeButtons::RetryCancel ? NoticeAnswer::Retry : NoticeAnswer::Ok;
}

QMessageBox::Icon toIcon(NoticeIcon icon) {
    switch (icon) {
        case NoticeIcon::Stop: return QMessageBox::Critical;
        case NoticeIcon::Exclamation: return QMessageBox::Warning;
        case NoticeIcon::Information: return QMessageBox::Information;
        case NoticeIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons toButtons(NoticeButtons buttons) {
    switch (buttons) {
        case NoticeButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
        case NoticeButtons::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
        case NoticeButtons::Ok: break;
    }
    return QMessageBox::Ok;
}

NoticeAnswer toAnswer(int button, NoticeButtons buttons) {
    switch (button) {
        case QMessageBox::Ok: return NoticeAnswer::Ok;
        case QMessageBox::Retry: return NoticeAnswer::Retry;
        case QMessageBox::Cancel: return NoticeAnswer::Cancel;
        default: break;
    }
    return buttons == NoticeButtons::Ok ? NoticeAnswer::Ok : NoticeAnswer::Cancel;
}

// The width a title bar needs to show the caption whole. The window manager
// draws it in its own title font, usually bold, beside the window's icon and
// its minimise, maximise and close buttons, each about as wide as the bar is
// high, with some room on either side.
int captionWidth(const QString& caption) {
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true);
    const QFontMetrics metrics(font);
    const int button = metrics.height() + 8;
    return metrics.horizontalAdvance(caption) + 4 * button + 2 * metrics.height();
}

// A box sizes itself to its text, which can leave it narrower than its
// caption ("Comm Error" over "Open Port Error!!"): widen the text so the
// whole caption fits.
void makeRoomForCaption(QMessageBox& box) {
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    QLayout* layout = box.layout();
    if (!label || !layout) return;
    box.ensurePolished();
    layout->activate();
    const int missing = captionWidth(box.windowTitle()) - layout->totalMinimumSize().width();
    if (missing > 0) label->setMinimumWidth(label->minimumSizeHint().width() + missing);
}

}  // namespace

std::unique_ptr<QMessageBox> MessageBox::build(QWidget* parent, const Notice& notice) {
    auto box = std::make_unique<QMessageBox>(toIcon(notice.icon), QString::fromStdString(notice.caption),
                                             QString::fromStdString(notice.text), toButtons(notice.buttons), parent);
    box->setDefaultButton(notice.buttons == NoticeButtons::RetryCancel ? QMessageBox::Retry : QMessageBox::Ok);
    if (notice.buttons != NoticeButtons::Ok) box->setEscapeButton(QMessageBox::Cancel);
    makeRoomForCaption(*box);
    return box;
}

NoticeAnswer MessageBox::show(QWidget* parent, const Notice& notice) {
    Script& s = script();
    if (s.active) {
        s.shown.push_back(notice);
        if (s.answers.empty()) return defaultAnswer(notice.buttons);
        const NoticeAnswer answer = s.answers.front();
        s.answers.pop_front();
        return answer;
    }
    const std::unique_ptr<QMessageBox> box = build(parent, notice);
    return toAnswer(box->exec(), notice.buttons);
}

void MessageBox::setScripted(bool scripted) { script().active = scripted; }
bool MessageBox::scripted() { return script().active; }
void MessageBox::setNextAnswer(NoticeAnswer answer) { script().answers.push_back(answer); }
const std::vector<Notice>& MessageBox::shown() { return script().shown; }

void MessageBox::clearShown() {
    script().shown.clear();
    script().answers.clear();
}
