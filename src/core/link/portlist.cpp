#include "core/link/portlist.h"

#include <algorithm>
#include <cctype>
#include <tuple>

namespace qm730 {

std::string SerialDeviceInfo::label() const { return product.empty() ? name : name + " - " + product; }

namespace {

// "ttyS10" is the name "ttyS" and the number 10, so it comes after "ttyS2".
bool comesBefore(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& name) {
        std::size_t digits = name.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
        const std::string number = name.substr(digits);
        // Leading zeros aside, a longer number is a larger one.
        const std::size_t first = std::min(number.find_first_not_of('0'), number.size());
        return std::tuple(name.substr(0, digits), number.size() - first, number.substr(first), name);
    };
    return split(a) < split(b);
}

}  // namespace

void sortByName(std::vector<SerialDeviceInfo>& devices) {
    std::sort(devices.begin(), devices.end(),
              [](const SerialDeviceInfo& a, const SerialDeviceInfo& b) { return comesBefore(a.name, b.name); });
}

}  // namespace qm730
