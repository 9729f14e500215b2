#include "gui/mainwindow/controlarrays.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <functional>
#include <string_view>

#include "gui/mainwindow/tag.h"

namespace {

using Placer = std::function<void(QObject* component, int tag)>;

// Stores a component into one array when it is of the array's kind and its
// Tag lies inside the array.
template <typename T, std::size_t N>
Placer placeInto(std::array<T*, N>& array) {
    return [&array](QObject* component, int tag) {
        T* control = qobject_cast<T*>(component);
        if (control && tag >= 0 && static_cast<std::size_t>(tag) < N) array[static_cast<std::size_t>(tag)] = control;
    };
}

struct Column {
    std::string_view prefix;
    Placer place;
};

}  // namespace

void fillControlArrays(ControlArrays& arrays, const std::vector<QObject*>& components) {
    // The order matters: a name goes to the first prefix it begins with.
    const Column columns[] = {
        {"memMsg", placeInto(arrays.memMsg)},         {"memAMsg", placeInto(arrays.memAMsg)},
        {"chkCtl", placeInto(arrays.chkCtl)},         {"cboFunc", placeInto(arrays.cboFunc)},
        {"cboType", placeInto(arrays.cboType)},       {"cboBaud", placeInto(arrays.cboBaud)},
        {"edtAddr", placeInto(arrays.edtAddr)},       {"edtName", placeInto(arrays.edtName)},
        {"edtGroup", placeInto(arrays.edtGroup)},     {"edtPagerID", placeInto(arrays.edtPagerID)},
        {"edtDelay", placeInto(arrays.edtDelay)},     {"labIndex", placeInto(arrays.labIndex)},
        {"labMIndex", placeInto(arrays.labMIndex)},   {"chkGroup", placeInto(arrays.chkGroup)},
    };
    for (QObject* component : components) {
        const QByteArray name = component->objectName().toLatin1();
        const std::string_view view(name.constData(), static_cast<std::size_t>(name.size()));
        for (const Column& column : columns) {
            if (!view.starts_with(column.prefix)) continue;
            const int tag = tagOf(component);
            if (tag >= 0) column.place(component, tag);
            break;
        }
    }
}
