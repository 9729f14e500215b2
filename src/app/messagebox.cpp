#include "app/messagebox.h"

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

}  // namespace

NoticeAnswer MessageBox::show(QWidget* parent, const Notice& notice) {
    Script& s = script();
    if (s.active) {
        s.shown.push_back(notice);
        if (s.answers.empty()) return defaultAnswer(notice.buttons);
        const NoticeAnswer answer = s.answers.front();
        s.answers.pop_front();
        return answer;
    }
    QMessageBox box(toIcon(notice.icon), QString::fromStdString(notice.caption), QString::fromStdString(notice.text),
                    toButtons(notice.buttons), parent);
    box.setDefaultButton(notice.buttons == NoticeButtons::RetryCancel ? QMessageBox::Retry : QMessageBox::Ok);
    if (notice.buttons != NoticeButtons::Ok) box.setEscapeButton(QMessageBox::Cancel);
    return toAnswer(box.exec(), notice.buttons);
}

void MessageBox::setScripted(bool scripted) { script().active = scripted; }
bool MessageBox::scripted() { return script().active; }
void MessageBox::setNextAnswer(NoticeAnswer answer) { script().answers.push_back(answer); }
const std::vector<Notice>& MessageBox::shown() { return script().shown; }

void MessageBox::clearShown() {
    script().shown.clear();
    script().answers.clear();
}
