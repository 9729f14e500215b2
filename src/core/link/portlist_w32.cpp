// Serial devices from the device manager's records: every present device of
// the Ports class with a COM name, described by its record (description,
// manufacturer, service, hardware and instance IDs), then any COM port the
// registry's SERIALCOMM map has that the Ports class lacks (a modem's port,
// a driver that registers no device there). Nothing is opened.
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

#include <cctype>

#include "core/config/win32_text.h"
#include "core/link/portlist.h"

namespace qm730 {

namespace {

std::string registryProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t buffer[1024] = {};
    DWORD type = 0;
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, reinterpret_cast<BYTE*>(buffer),
                                             sizeof buffer - sizeof(wchar_t), nullptr))
        return {};
    // For a list (the hardware IDs) the first entry is the most exact.
    return win32::narrow(buffer);
}

std::string portNameOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
    HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return {};
    wchar_t buffer[256] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    DWORD type = 0;
    const LONG status = ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ ? win32::narrow(buffer) : std::string();
}

std::string instanceIdOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
    wchar_t buffer[512] = {};
    if (!::SetupDiGetDeviceInstanceIdW(set, &device, buffer, 511, nullptr)) return {};
    return win32::narrow(buffer);
}

// The four hexadecimal digits after a key such as "VID_" in a hardware ID
// ("USB\VID_0403&PID_6001&REV_0600", "PCI\VEN_1415&DEV_C158&...").
std::string idAfter(const std::string& hardwareId, const std::string& key) {
    const std::size_t at = hardwareId.find(key);
    if (at == std::string::npos || at + key.size() + 4 > hardwareId.size()) return {};
    std::string id = hardwareId.substr(at + key.size(), 4);
    for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return id;
}

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool isComName(const std::string& name) {
    return name.size() > 3 && lowered(name.substr(0, 3)) == "com";
}

SerialDeviceInfo describe(HDEVINFO set, SP_DEVINFO_DATA& device, const std::string& portName) {
    SerialDeviceInfo info;
    info.port = info.name = portName;
    info.stablePath = instanceIdOf(set, device);
    info.bus = lowered(registryProperty(set, device, SPDRP_ENUMERATOR_NAME));
    info.product = registryProperty(set, device, SPDRP_DEVICEDESC);
    info.manufacturer = registryProperty(set, device, SPDRP_MFG);
    info.driver = registryProperty(set, device, SPDRP_SERVICE);
    const std::string hardwareId = registryProperty(set, device, SPDRP_HARDWAREID);
    info.vendorId = idAfter(hardwareId, "VID_");
    info.productId = idAfter(hardwareId, "PID_");
    if (info.vendorId.empty()) {
        info.vendorId = idAfter(hardwareId, "VEN_");
        info.productId = idAfter(hardwareId, "DEV_");
    }
    // A USB device's instance is "USB\VID_xxxx&PID_xxxx\SERIAL"; Windows
    // makes up one with '&' in it for a device that reports no serial number.
    if (info.bus == "usb") {
        const std::size_t slash = info.stablePath.rfind('\\');
        const std::string last = slash == std::string::npos ? std::string() : info.stablePath.substr(slash + 1);
        if (!last.empty() && last.find('&') == std::string::npos) info.serialNumber = last;
    }
    return info;
}

void addPortsClass(std::vector<SerialDeviceInfo>& devices) {
    HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        const std::string portName = portNameOf(set, device);
        if (isComName(portName)) devices.push_back(describe(set, device, portName));  // LPT ports are no serial lines
    }
    ::SetupDiDestroyDeviceInfoList(set);
}

void addSerialCommMap(std::vector<SerialDeviceInfo>& devices) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256] = {};
        wchar_t data[256] = {};
        DWORD nameLength = 255;
        DWORD dataSize = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG status = ::RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type,
                                            reinterpret_cast<BYTE*>(data), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS || type != REG_SZ) continue;
        const std::string portName = win32::narrow(data);
        bool known = !isComName(portName);
        for (const SerialDeviceInfo& device : devices) known = known || lowered(device.port) == lowered(portName);
        if (known) continue;
        SerialDeviceInfo info;
        info.port = info.name = portName;
        info.driver = win32::narrow(valueName);  // the driver's device object: \Device\Serial0, \Device\VCP0
        devices.push_back(std::move(info));
    }
    ::RegCloseKey(key);
}

}  // namespace

std::vector<SerialDeviceInfo> listSerialDevices() {
    std::vector<SerialDeviceInfo> devices;
    addPortsClass(devices);
    addSerialCommMap(devices);
    sortByName(devices);
    return devices;
}

}  // namespace qm730
