// Takes one file dropped anywhere on a window: the window and every field in
// it that takes dropped text of its own hand a dragged file to one place,
// which says whether it would open it (the cursor shows the answer) and
// opens it once dropped. Text dragged into a field goes its usual way.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QMimeData;
class QWidget;

class FileDrops : public QObject {
    Q_OBJECT

public:
    using Accepts = std::function<bool(const QString& path)>;
    using Open = std::function<void(const QString& path)>;

    // Watches the window and the widgets it holds now.
    FileDrops(QWidget* window, Accepts accepts, Open open);

    // The one local file the drag carries; empty for several files, a
    // link to elsewhere, or text.
    static QString singleLocalFile(const QMimeData* data);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Accepts accepts_;
    Open open_;
};
