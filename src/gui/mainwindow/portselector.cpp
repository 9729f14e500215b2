#include "gui/mainwindow/portselector.h"

#include <QAbstractItemView>
#include <QSettings>

#include <algorithm>

namespace {

// The settings key of the chosen port: "COM1".."COM5", a device's stable
// path, or its path where it has none.
const QString kPortKey = QStringLiteral("port");

PortSelector::DeviceLister& deviceLister() {
    static PortSelector::DeviceLister lister = [] { return qm730::listSerialDevices(); };
    return lister;
}

}  // namespace

void PortSelector::setDeviceLister(DeviceLister lister) { deviceLister() = std::move(lister); }

PortSelector::PortSelector(QWidget* parent) : QComboBox(parent) {
    for (int n = 1; n <= kComPorts; ++n) addItem(QStringLiteral("COM %1").arg(n));
    const std::string remembered = QSettings().value(kPortKey).toString().toStdString();
    chosen_ = {remembered, remembered};
    refreshDevices();
}

int PortSelector::chosenIndex() const { return std::max(indexOf(chosen_), 0); }

void PortSelector::chooseCurrent() {
    chosen_ = choiceAt(currentIndex());
    QSettings().setValue(kPortKey, QString::fromStdString(chosen_.stablePath.empty() ? chosen_.port
                                                                                      : chosen_.stablePath));
    setToolTip(currentText());
}

void PortSelector::showPopup() {
    refreshDevices();
    QComboBox::showPopup();
}

void PortSelector::refreshDevices() {
    devices_ = deviceLister()();
    while (count() > kComPorts) removeItem(count() - 1);
    for (const qm730::SerialDeviceInfo& device : devices_) addItem(QString::fromStdString(device.label()));
    setMaxVisibleItems(std::max(count(), kComPorts));
    // The field keeps its design width; the open list is as wide as its labels.
    view()->setMinimumWidth(view()->sizeHintForColumn(0) + 2 * view()->frameWidth());
    // Found again under another name, the device is used by that name.
    chosen_ = choiceAt(std::max(indexOf(chosen_), 0));
    showChosen();
}

void PortSelector::showChosen() {
    setCurrentIndex(chosenIndex());
    setToolTip(currentText());
}

PortSelector::Choice PortSelector::choiceAt(int index) const {
    if (index >= kComPorts && index - kComPorts < static_cast<int>(devices_.size())) {
        const qm730::SerialDeviceInfo& device = devices_[static_cast<std::size_t>(index - kComPorts)];
        return {device.port, device.stablePath};
    }
    return {"COM" + std::to_string(std::clamp(index, 0, kComPorts - 1) + 1), {}};
}

// A device is found again by its stable path first: replugged, an adapter
// may come back under another name.
int PortSelector::indexOf(const Choice& choice) const {
    for (std::size_t i = 0; i < devices_.size(); ++i)
        if (!choice.stablePath.empty() && devices_[i].stablePath == choice.stablePath)
            return kComPorts + static_cast<int>(i);
    for (int n = 0; n < kComPorts; ++n)
        if (choice.port == "COM" + std::to_string(n + 1)) return n;
    for (std::size_t i = 0; i < devices_.size(); ++i)
        if (devices_[i].port == choice.port) return kComPorts + static_cast<int>(i);
    return -1;
}
