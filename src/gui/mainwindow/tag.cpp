#include "gui/mainwindow/tag.h"

#include <QObject>
#include <QVariant>

namespace {
constexpr const char* kTagProperty = "Tag";
}

void setTag(QObject* control, int row) { control->setProperty(kTagProperty, row); }

int tagOf(const QObject* control) {
    if (!control) return -1;
    bool ok = false;
    const int tag = control->property(kTagProperty).toInt(&ok);
    return ok ? tag : -1;
}
