// Proportional layout: every control keeps its design position, size and font
// size in proportion to the window. The design values are recorded once and
// every resize recomputes from them, so repeated resizing never drifts.
#pragma once

#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <vector>

class LayoutScaler {
public:
    // Records the design bounds and font size of every widget among the
    // components (anything else, menus and menu items for instance, is not a
    // control).
    void record(const std::vector<QObject*>& components, QSize designSize);

    // Places every recorded control at design bounds x ratio and sets its font
    // to design size x the smaller ratio; every product is truncated.
    void apply(QSize currentSize);

    QSize designSize() const { return designSize_; }
    double horizontalRatio() const { return horizontalRatio_; }
    double verticalRatio() const { return verticalRatio_; }

private:
    struct Entry {
        QPointer<QWidget> control;
        QPointer<QWidget> parentAtRecord;  // a control moved into another host is placed by that host
        QRect bounds;
        int fontSize = -1;   // -1: no font size could be read
        bool fontInPixels = false;
    };

    static void place(const Entry& entry, double horizontal, double vertical);

    std::vector<Entry> entries_;
    QSize designSize_;
    double horizontalRatio_ = 1.0;
    double verticalRatio_ = 1.0;
};
