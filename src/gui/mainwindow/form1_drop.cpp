// Files dragged onto the main window. Normal mode opens one table file as
// File > Open does: a name ending in .tbl, or a file of a table's size (the
// window saves names as typed, without .tbl). S29 mode loads one firmware
// file, of any name, as its File > Open does, but never while a write runs.
#include <QFileInfo>

#include "core/config/image.h"
#include "gui/mainwindow/unit1.h"

bool TForm1::acceptsDroppedFile(const QString& path) const {
    const QFileInfo file(path);
    if (!file.isFile()) return false;
    if (mode_ == OperatingMode::S29) return !writing_;
    return file.suffix().compare(QStringLiteral("tbl"), Qt::CaseInsensitive) == 0 ||
           file.size() == static_cast<qint64>(qm730::kImageSize);
}

void TForm1::openDroppedFile(const QString& path) {
    // The window may have changed mode, or a write begun, since the drop.
    if (!acceptsDroppedFile(path)) return;
    if (mode_ == OperatingMode::S29)
        openFirmwareFile(path);
    else
        openTableFile(path);
}
