// The one way the program asks for a file name. Tests switch it to scripted
// mode: then no dialog opens, each request is recorded and answered with the
// next queued name; an empty name (or an empty queue) means "cancelled".
#pragma once

#include <QString>

#include <vector>

class QWidget;

struct FileDialogRequest {
    enum class Kind { Open, Save };
    Kind kind;
    QString caption;
    QString directory;
    QString filter;
};

class FileDialog {
public:
    // The chosen file's full path, or an empty string when the operator cancelled.
    static QString getOpenFileName(QWidget* parent, const QString& caption, const QString& directory,
                                   const QString& filter);
    static QString getSaveFileName(QWidget* parent, const QString& caption, const QString& directory,
                                   const QString& filter);

    // --- Test seam ---------------------------------------------------------
    static void setScripted(bool scripted);
    static void setNextFileName(const QString& fileName);
    static const std::vector<FileDialogRequest>& requests();
    static void clearRequests();  // forgets the record and the queued names
};
