// Leave and enter rules of the window's fields, and the focus sink.
//
// A field's leave rule runs when the operator moves the focus from it to
// another control of the same window (the focus sink included), but not when a
// message box, a popup or another window takes the focus, so a rule's own
// message box never triggers it again. Rules run just after the focus change
// has completed, so a rule can send the focus back to its field; the move then
// counts as not having happened: the control that briefly had the focus runs
// no rule, and the field runs no enter rule on its return.
#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>

#include <deque>
#include <functional>
#include <vector>

class QWidget;

class FocusRules : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<void(QObject* sender)>;

    explicit FocusRules(QWidget* window);

    void onLeave(QWidget* field, Handler handler);
    void onEnter(QWidget* field, Handler handler);
    // Runs when the focus moves from a control inside the container to one
    // outside it.
    void onContainerLeave(QWidget* container, Handler handler);

    void setSink(QWidget* sink) { sink_ = sink; }
    // Mouse movement over the bare surface of this widget (not over one of
    // its controls) moves the focus to the sink.
    void watchSurface(QWidget* surface);

    // Moves the focus to the sink and runs the pending rules at once.
    void moveFocusToSink();
    void runPendingRules();
    bool hasPendingRules() const { return !pending_.empty(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Run in this order for one focus move: the field left, the containers
    // left, the control entered.
    enum class Kind { Leave, ContainerLeave, Enter };
    struct Pending {
        Kind kind;
        QPointer<QWidget> control;
        Handler handler;
    };

    void onFocusChanged(QWidget* old, QWidget* now);
    bool operatorMovedFocus(int reason) const;
    bool overBareSurface(QWidget* surface, const QPoint& position) const;
    void queue(Kind kind, QWidget* control, const Handler& handler);
    void scheduleRun();

    QWidget* window_;
    QPointer<QWidget> sink_;
    QHash<QObject*, Handler> leaveRules_;
    QHash<QObject*, Handler> enterRules_;
    std::vector<std::pair<QPointer<QWidget>, Handler>> containerRules_;
    std::deque<Pending> pending_;
    bool runScheduled_ = false;
    bool runningRule_ = false;
};
