#include "gui/mainwindow/hiddentabstyle.h"

#include <QStyleOptionTab>
#include <QTabBar>

void HiddenTabStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                 const QWidget* widget) const {
    const bool tabPart = element == CE_TabBarTab || element == CE_TabBarTabShape || element == CE_TabBarTabLabel;
    if (tabPart) {
        const auto* tab = qstyleoption_cast<const QStyleOptionTab*>(option);
        const auto* bar = qobject_cast<const QTabBar*>(widget);
        if (tab && bar && tab->tabIndex >= 0 && !bar->isTabVisible(tab->tabIndex)) return;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}
