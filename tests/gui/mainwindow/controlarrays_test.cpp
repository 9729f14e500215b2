// The fourteen control arrays: complete in the main window, and safe against
// components whose name, kind or Tag does not fit.
#include <gtest/gtest.h>

#include "gui/mainwindow/controlarrays.h"
#include "gui/mainwindow/tag.h"
#include "guitest.h"

namespace {

template <typename T, std::size_t N>
void expectRowsNamed(const std::array<T*, N>& array, const char* prefix, int firstNumber = 1) {
    for (std::size_t i = 0; i < N; ++i) {
        ASSERT_NE(array[i], nullptr) << prefix << i;
        EXPECT_EQ(array[i]->objectName(), QString("%1%2").arg(prefix).arg(static_cast<int>(i) + firstNumber));
        EXPECT_EQ(tagOf(array[i]), static_cast<int>(i));
    }
}

TEST(ControlArrays, MainWindowFillsEveryArray) {
    const std::unique_ptr<TForm1> form = createWindows();
    const ControlArrays& a = form->arrays();
    expectRowsNamed(a.memMsg, "memMsg");
    expectRowsNamed(a.memAMsg, "memAMsg");
    expectRowsNamed(a.chkCtl, "chkCtl", 0);
    expectRowsNamed(a.cboFunc, "cboFunc");
    expectRowsNamed(a.cboType, "cboType");
    expectRowsNamed(a.cboBaud, "cboBaud");
    expectRowsNamed(a.edtAddr, "edtAddr");
    expectRowsNamed(a.edtName, "edtName");
    expectRowsNamed(a.edtGroup, "edtGroup");
    expectRowsNamed(a.edtPagerID, "edtPagerID");
    expectRowsNamed(a.edtDelay, "edtDelay");
    expectRowsNamed(a.labIndex, "labIndex");
    expectRowsNamed(a.labMIndex, "labMIndex");
    expectRowsNamed(a.chkGroup, "chkGroup");
}

struct Components {
    QWidget owner;
    std::vector<QObject*> list;

    template <typename T>
    T* add(const char* name, int tag) {
        auto* control = new T(&owner);
        control->setObjectName(name);
        if (tag != kNoTag) setTag(control, tag);
        list.push_back(control);
        return control;
    }
    static constexpr int kNoTag = -1000;
};

// Names, kinds and Tags that do not fit an array are left out; the first
// matching prefix decides and a later component of the same place wins.
TEST(ControlArrays, ComponentsThatDoNotFitAreLeftOut) {
    Components c;
    c.add<QLineEdit>("edtAddr3", 2);
    auto* later = c.add<QLineEdit>("edtAddrSpare", 2);
    c.add<QLineEdit>("edtAddr11", 10);           // one past the end
    c.add<QLineEdit>("edtAddrHuge", 1 << 30);    // far past the end
    c.add<QLineEdit>("edtAddrNegative", -1);
    c.add<QLineEdit>("edtAddrUntagged", Components::kNoTag);
    c.add<QLabel>("edtAddrWrongKind", 4);        // a label is no address edit
    c.add<QCheckBox>("chkCtl9", 9);              // status array holds five
    auto* alarm = c.add<QPlainTextEdit>("memAMsg1", 0);  // "memMsg" does not match "memAMsg"

    ControlArrays arrays;
    fillControlArrays(arrays, c.list);
    for (std::size_t i = 0; i < arrays.edtAddr.size(); ++i) EXPECT_EQ(arrays.edtAddr[i], i == 2 ? later : nullptr) << i;
    for (const QCheckBox* box : arrays.chkCtl) EXPECT_EQ(box, nullptr);
    EXPECT_EQ(arrays.memMsg[0], nullptr);
    EXPECT_EQ(arrays.memAMsg[0], alarm);
}

}  // namespace
