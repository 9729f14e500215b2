#include "gui/seams/layoutscaler.h"

#include <QLayout>
#include <QMenu>
#include <QMenuBar>

#include <algorithm>

namespace {

int scaled(int designValue, double ratio) { return static_cast<int>(designValue * ratio); }

}  // namespace

void LayoutScaler::record(const std::vector<QObject*>& components, QSize designSize) {
    designSize_ = designSize;
    entries_.clear();
    for (QObject* component : components) {
        auto* control = qobject_cast<QWidget*>(component);
        // The menu bar and its drop-down menus are no controls of the window's
        // surface: they keep their own size and font.
        if (!control || qobject_cast<QMenu*>(control) || qobject_cast<QMenuBar*>(control)) continue;
        Entry entry{control, control->parentWidget(), control->geometry()};
        const QFont font = control->font();
        if (font.pointSize() > 0) {
            entry.fontSize = font.pointSize();
        } else if (font.pixelSize() > 0) {
            entry.fontSize = font.pixelSize();
            entry.fontInPixels = true;
        }
        entries_.push_back(entry);
    }
}

void LayoutScaler::apply(QSize currentSize) {
    if (designSize_.isEmpty()) return;
    horizontalRatio_ = static_cast<double>(currentSize.width()) / designSize_.width();
    verticalRatio_ = static_cast<double>(currentSize.height()) / designSize_.height();
    for (const Entry& entry : entries_) place(entry, horizontalRatio_, verticalRatio_);
}

void LayoutScaler::place(const Entry& entry, double horizontal, double vertical) {
    QWidget* control = entry.control;
    if (!control || control->parentWidget() != entry.parentAtRecord) return;
    // Pages of the tab control and the like are placed by their parent's layout.
    const QLayout* layout = control->parentWidget() ? control->parentWidget()->layout() : nullptr;
    if (layout && layout->indexOf(control) >= 0) return;
    control->setGeometry(scaled(entry.bounds.left(), horizontal), scaled(entry.bounds.top(), vertical),
                         scaled(entry.bounds.width(), horizontal), scaled(entry.bounds.height(), vertical));
    if (entry.fontSize <= 0) return;
    // A font can not be smaller than one unit; a tiny window keeps it legible-ish
    // instead of handing the toolkit an invalid size.
    const int size = std::max(1, scaled(entry.fontSize, std::min(horizontal, vertical)));
    QFont font = control->font();
    if (entry.fontInPixels) {
        font.setPixelSize(size);
    } else {
        font.setPointSize(size);
    }
    control->setFont(font);
}
