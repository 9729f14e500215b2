// File commands of Normal mode: open and save a table file, the raw image.
#include <QString>

#include "gui/seams/filedialog.h"
#include "gui/seams/messagebox.h"
#include "gui/mainwindow/unit1.h"
#include "core/config/configfile.h"
#include "core/config/tablefilelock.h"

namespace {

// One filter whose description reads "Table File*.tbl"; the dialogs add no
// extension of their own, so a name typed without one is used as typed.
const QString kTableFileFilter = QStringLiteral("Table File*.tbl (*.tbl)");

qm730::Notice fileNotice(std::string text) {
    return {std::move(text), qm730::kModelCaption, qm730::NoticeButtons::Ok, qm730::NoticeIcon::Exclamation};
}

// A file of another size is taken all the same, as the board's tools always
// have; the operator is told that it was no complete table file.
std::optional<qm730::Notice> sizeWarning(const qm730::FileResult& result) {
    const std::string complete = std::to_string(qm730::kImageSize);
    if (result.bytes < qm730::kImageSize)
        return fileNotice("The file holds only " + std::to_string(result.bytes) + " of " + complete +
                          " bytes; the rest of the configuration was kept.");
    if (result.fileSize > qm730::kImageSize)
        return fileNotice("The file is longer than a table file; only its first " + complete + " bytes were used.");
    return std::nullopt;
}

}  // namespace

// Opening replaces the image without storing the shown pages first; even a
// cancelled dialog reloads them, discarding edits that were not yet stored.
void TForm1::Open1Click(QObject*) {
    openTableFile(FileDialog::getOpenFileName(this, QStringLiteral("Open"), startDirectory_, kTableFileFilter));
}

// An empty path is a cancelled dialog.
void TForm1::openTableFile(const QString& path) {
    if (!path.isEmpty()) {
        // The core takes names as UTF-8 on every system (on Windows it opens
        // them by their wide names), not in the ANSI code page, which loses
        // every character outside it.
        const qm730::FileResult result = qm730::loadTableFile(path.toStdString(), config_.image);
        if (!result.ok()) {
            MessageBox::show(this, fileNotice("Open Error!"));
            return;
        }
        if (const auto warning = sizeWarning(result)) MessageBox::show(this, *warning);
    }
    loadCapcodePage(capcodePage_);
    loadMessagePage(messagePage_);
    loadAlarmPage();
    loadConfigView();
}

// The field being edited commits first, then the shown pages go into the
// image; the pages are stored even when the operator cancels the dialog.
// The file is replaced only once the whole image is safely on disk.
void TForm1::Save1Click(QObject*) {
    moveFocusToSink();
    if (!storeCapcodePage(capcodePage_)) return;
    storeMessagePage(messagePage_);
    storeAlarmPage();

    const QString path = FileDialog::getSaveFileName(this, QStringLiteral("Save As"),
                                                     startDirectory_, kTableFileFilter);
    if (path.isEmpty()) return;
    // Another program changing the file (qm730ctl set) finishes first; one
    // that keeps it longer than the wait makes the save fail.
    const std::string name = path.toStdString();
    qm730::TableFileLock lock;
    qm730::FileResult result = lock.acquire(name);
    if (result.ok()) result = qm730::saveTableFile(name, config_.image);
    if (!result.ok()) MessageBox::show(this, fileNotice("Save Error!"));
}
