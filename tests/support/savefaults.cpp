#include "savefaults.h"

#include <cerrno>

namespace qm730::savefault {

namespace {
thread_local Call armedCall = Call::Write;
thread_local int armedCountdown = 0;
thread_local int armedError = 0;
}  // namespace

void failCall(Call call, int nth, int error) {
    armedCall = call;
    armedCountdown = nth;
    armedError = error;
}

void clear() { armedCountdown = 0; }

bool saveCallFails(Call call) {
    if (armedCountdown == 0 || call != armedCall || --armedCountdown > 0) return false;
    errno = armedError;
    return true;
}

}  // namespace qm730::savefault
