// Helpers for the data tab tests: the main window with a tab shown, moving
// the focus as the operator does, and reading the image behind the views.
#pragma once

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
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

    // Puts the focus into a field and lets any rule it triggered run.
    static void focus(QWidget* field) {
        field->setFocus(Qt::MouseFocusReason);
        QApplication::processEvents();
    }

    // The operator clicks into another control: the field left runs its rule.
    static void leaveFor(QWidget* next) { focus(next); }

    static void setText(QWidget* field, const QString& text) {
        if (auto* edit = qobject_cast<QLineEdit*>(field)) edit->setText(text);
        if (auto* memo = qobject_cast<QPlainTextEdit*>(field)) memo->setPlainText(text);
    }

    // The eight tool bar buttons, left to right.
    QToolButton* toolButton(int position) const {
        return form->ToolBar1->findChild<QToolButton*>(QString("ToolButton%1").arg(position + 1));
    }

    std::string storedAddress(std::size_t slot) const { return qm730::readAddress(form->config().image.capcodeSlot(slot)); }
    std::uint8_t slotByte(std::size_t slot, std::size_t field) const {
        return form->config().image.capcodeSlot(slot)[field];
    }

    static std::vector<std::string> shownTexts() {
        std::vector<std::string> texts;
        for (const qm730::Notice& notice : MessageBox::shown()) texts.push_back(notice.text);
        return texts;
    }
};
