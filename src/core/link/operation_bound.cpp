#include "core/link/operation_bound.h"

#include <algorithm>

namespace qm730 {

std::chrono::milliseconds lineTime(std::uint64_t bytes, std::uint32_t baudRate) {
    if (baudRate == 0) baudRate = 19200;
    const std::uint64_t bits = bytes * 11;
    return std::chrono::milliseconds((bits * 1000 + baudRate - 1) / baudRate);
}

void OperationBound::start(Clock::time_point now, std::chrono::milliseconds limit) {
    started_ = now;
    deadline_ = now + limit;
}

void OperationBound::extend(std::chrono::milliseconds more) {
    if (running()) deadline_ += more;
}

std::chrono::milliseconds OperationBound::clip(std::chrono::milliseconds wanted, Clock::time_point now) const {
    if (!running()) return wanted;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - now);
    return std::max(std::chrono::milliseconds(0), std::min(wanted, left));
}

std::chrono::milliseconds OperationBound::elapsed(Clock::time_point now) const {
    if (!running()) return std::chrono::milliseconds(0);
    return std::chrono::duration_cast<std::chrono::milliseconds>(now - *started_);
}

std::string farSlowerText(const std::string& who, std::uint64_t done, std::uint64_t expected,
                          std::chrono::milliseconds elapsed) {
    const auto seconds = (elapsed.count() + 500) / 1000;
    return who + " " + std::to_string(done) + " of " + std::to_string(expected) + " bytes in " +
           std::to_string(seconds) + " s: far slower than the line";
}

}  // namespace qm730
