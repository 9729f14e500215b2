// Keeps a tab bar from drawing the button of a tab that is hidden while it is
// the current tab (the Config tab is shown without its button); the stock
// styles otherwise paint a sliver of its caption at the bar's left end.
#pragma once

#include <QProxyStyle>

class HiddenTabStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
};
