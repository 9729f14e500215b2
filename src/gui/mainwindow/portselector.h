// The port selector of the selection bar (cboComPort): "COM 1" to "COM 5"
// first, as they always were, then every serial device the system has,
// listed again each time the list is opened, so an adapter plugged in a
// moment ago is there. The operator's choice is remembered for the next
// start; a device that has gone since gives way to "COM 1".
#pragma once

#include <QComboBox>

#include <functional>
#include <string>
#include <vector>

#include "core/link/portlist.h"

class PortSelector : public QComboBox {
    Q_OBJECT

public:
    using DeviceLister = std::function<std::vector<qm730::SerialDeviceInfo>()>;
    static constexpr int kComPorts = 5;

    explicit PortSelector(QWidget* parent = nullptr);

    // The port the operator chose: "COM1".."COM5" or a device path (on
    // Windows its COM name), as the serial layer takes it.
    const std::string& chosenPort() const { return chosen_.port; }
    int chosenIndex() const;
    // Makes the shown entry the operator's choice and remembers it.
    void chooseCurrent();
    // Lists the devices again; the chosen entry stays chosen while its
    // device is there, and "COM 1" is chosen when it has gone.
    void refreshDevices();

    // Where the devices come from; the system's own list unless a test
    // says otherwise.
    static void setDeviceLister(DeviceLister lister);

    // Lists the devices again before the list opens.
    void showPopup() override;

private:
    // A port as it is used and as it is found again: a device by its stable
    // path where it has one (the same adapter on another ttyUSBn).
    struct Choice {
        std::string port;
        std::string stablePath;
    };
    Choice choiceAt(int index) const;
    int indexOf(const Choice& choice) const;
    void showChosen();

    std::vector<qm730::SerialDeviceInfo> devices_;
    Choice chosen_;
};
