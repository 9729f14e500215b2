#include "gui/seams/filedialog.h"

#include <QFileDialog>

#include <deque>

namespace {

struct Script {
    bool active = false;
    std::deque<QString> names;
    std::vector<FileDialogRequest> requests;
};

Script& script() {
    static Script instance;
    return instance;
}

QString answerScripted(FileDialogRequest request) {
    Script& s = script();
    s.requests.push_back(std::move(request));
    if (s.names.empty()) return {};
    QString name = s.names.front();
    s.names.pop_front();
    return name;
}

}  // namespace

QString FileDialog::getOpenFileName(QWidget* parent, const QString& caption, const QString& directory,
                                    const QString& filter) {
    if (script().active) return answerScripted({FileDialogRequest::Kind::Open, caption, directory, filter});
    return QFileDialog::getOpenFileName(parent, caption, directory, filter);
}

QString FileDialog::getSaveFileName(QWidget* parent, const QString& caption, const QString& directory,
                                    const QString& filter) {
    if (script().active) return answerScripted({FileDialogRequest::Kind::Save, caption, directory, filter});
    return QFileDialog::getSaveFileName(parent, caption, directory, filter);
}

void FileDialog::setScripted(bool scripted) { script().active = scripted; }
void FileDialog::setNextFileName(const QString& fileName) { script().names.push_back(fileName); }
const std::vector<FileDialogRequest>& FileDialog::requests() { return script().requests; }

void FileDialog::clearRequests() {
    script().names.clear();
    script().requests.clear();
}
