#include "gui/mainwindow/filedrops.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

FileDrops::FileDrops(QWidget* window, Accepts accepts, Open open)
    : QObject(window), accepts_(std::move(accepts)), open_(std::move(open)) {
    window->setAcceptDrops(true);
    window->installEventFilter(this);
    for (QWidget* widget : window->findChildren<QWidget*>()) widget->installEventFilter(this);
}

QString FileDrops::singleLocalFile(const QMimeData* data) {
    if (!data || data->urls().size() != 1 || !data->urls().constFirst().isLocalFile()) return {};
    return data->urls().constFirst().toLocalFile();
}

bool FileDrops::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return QObject::eventFilter(watched, event);
    auto* drop = static_cast<QDropEvent*>(event);  // a drag-enter and a drag-move are drops to come
    if (!drop->mimeData()->hasUrls()) return false;
    const QString path = singleLocalFile(drop->mimeData());
    // The file is read, never taken: a move that was accepted would have the
    // file manager delete the operator's file.
    const bool copyable = drop->possibleActions() & Qt::CopyAction;
    if (path.isEmpty() || !copyable || !accepts_(path)) {
        drop->ignore();
        return true;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    // Opening may show a box; the program that sent the file waits until
    // the drop has returned, so the file is opened just after.
    if (type == QEvent::Drop) QMetaObject::invokeMethod(this, [this, path] { open_(path); }, Qt::QueuedConnection);
    return true;
}
