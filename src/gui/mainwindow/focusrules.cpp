#include "gui/mainwindow/focusrules.h"

#include <QApplication>
#include <QFocusEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QWidget>

#include <algorithm>

FocusRules::FocusRules(QWidget* window) : QObject(window), window_(window) {
    connect(qApp, &QApplication::focusChanged, this, &FocusRules::onFocusChanged);
}

void FocusRules::onLeave(QWidget* field, Handler handler) {
    leaveRules_.insert(field, std::move(handler));
    field->installEventFilter(this);
}

void FocusRules::onEnter(QWidget* field, Handler handler) {
    enterRules_.insert(field, std::move(handler));
    field->installEventFilter(this);
}

void FocusRules::onContainerLeave(QWidget* container, Handler handler) {
    containerRules_.emplace_back(container, std::move(handler));
}

void FocusRules::watchSurface(QWidget* surface) {
    surface->setMouseTracking(true);
    surface->installEventFilter(this);
}

bool FocusRules::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::FocusOut:
            if (leaveRules_.contains(watched) && operatorMovedFocus(static_cast<QFocusEvent*>(event)->reason()))
                queue(Kind::Leave, static_cast<QWidget*>(watched), leaveRules_.value(watched));
            break;
        case QEvent::FocusIn:
            if (enterRules_.contains(watched) && operatorMovedFocus(static_cast<QFocusEvent*>(event)->reason()))
                queue(Kind::Enter, static_cast<QWidget*>(watched), enterRules_.value(watched));
            break;
        case QEvent::MouseMove: {
            auto* surface = static_cast<QWidget*>(watched);
            const auto* move = static_cast<QMouseEvent*>(event);
            if (window_->isActiveWindow() && overBareSurface(surface, move->position().toPoint())) moveFocusToSink();
            break;
        }
        default:
            break;
    }
    return false;
}

// The focus moved from control to control inside the window on the
// operator's (or the program's) doing; a box, a popup, the menu bar or
// another window taking the focus is no such move. Moves that a running rule
// makes are the rule's own business.
bool FocusRules::operatorMovedFocus(int reason) const {
    if (runningRule_) return false;
    switch (reason) {
        case Qt::ActiveWindowFocusReason:
        case Qt::PopupFocusReason:
        case Qt::MenuBarFocusReason:
        case Qt::NoFocusReason:
            return false;
        default:
            break;
    }
    const QWidget* now = QApplication::focusWidget();
    return now && now->window() == window_;
}

bool FocusRules::overBareSurface(QWidget* surface, const QPoint& position) const {
    const QWidget* child = surface->childAt(position);
    return !child || (qobject_cast<const QLabel*>(child) && child->parentWidget() == surface);
}

void FocusRules::onFocusChanged(QWidget* old, QWidget* now) {
    if (runningRule_ || !old || !now || now->window() != window_) return;
    for (const auto& [container, handler] : containerRules_) {
        if (container && container->isAncestorOf(old) && !container->isAncestorOf(now))
            queue(Kind::ContainerLeave, container, handler);
    }
}

void FocusRules::queue(Kind kind, QWidget* control, const Handler& handler) {
    pending_.push_back({kind, control, handler});
    scheduleRun();
}

void FocusRules::scheduleRun() {
    if (runScheduled_) return;
    runScheduled_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            runScheduled_ = false;
            runPendingRules();
        },
        Qt::QueuedConnection);
}

void FocusRules::moveFocusToSink() {
    if (!sink_) return;
    // Without an active window no focus events are sent; the field being
    // edited must commit all the same.
    QWidget* current = window_->focusWidget();
    if (!window_->isActiveWindow() && current && current != sink_ && leaveRules_.contains(current) && !runningRule_)
        queue(Kind::Leave, current, leaveRules_.value(current));
    sink_->setFocus(Qt::OtherFocusReason);
    runPendingRules();
}

void FocusRules::runPendingRules() {
    std::stable_sort(pending_.begin(), pending_.end(),
                     [](const Pending& a, const Pending& b) { return a.kind < b.kind; });
    while (!pending_.empty()) {
        const Pending item = pending_.front();
        pending_.pop_front();
        if (!item.control) continue;
        const bool holdsFocus = item.control->window()->focusWidget() == item.control;
        if (item.kind == Kind::Enter && !holdsFocus) continue;  // the focus went on or was sent back

        {
            const QScopedValueRollback<bool> running(runningRule_, true);
            item.handler(item.control);
        }
        if (item.kind == Kind::Leave && item.control && item.control->window()->focusWidget() == item.control) {
            // The rule kept the operator in the field: the move did not happen.
            pending_.clear();
            return;
        }
    }
}
