// Helpers for the data tab tests: the main window with a tab shown, and
// reading the image behind the views.
#pragma once

#include <gtest/gtest.h>

#include <QToolButton>

#include <string>

#include "guitest.h"

class DataTabs : public ::testing::Test, protected MainWindowFixture {
protected:
    const ControlArrays& rows() const { return form->arrays(); }
    qm730::ConfigImage& image() { return form->config().image; }

    void showTab(QWidget* sheet) {
        form->pacCapMsg->setCurrentWidget(sheet);
        QApplication::processEvents();
    }

    // The eight tool bar buttons, left to right.
    QToolButton* toolButton(int position) const {
        return form->ToolBar1->findChild<QToolButton*>(QString("ToolButton%1").arg(position + 1));
    }

    std::string storedAddress(std::size_t slot) const { return qm730::readAddress(form->config().image.capcodeSlot(slot)); }
    std::uint8_t slotByte(std::size_t slot, std::size_t field) const {
        return form->config().image.capcodeSlot(slot)[field];
    }
};
