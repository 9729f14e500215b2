// Makes one file system call of a table-file save fail, for tests. Linking
// savefaults.cpp into a test program puts its answer in place of the
// library's, which lets every call through.
#pragma once

#include "core/config/savefaults.h"

namespace qm730::savefault {

// The nth call (1 for the next one) of that kind fails with the error
// number; the calls before and after it run as usual. Counted per thread.
void failCall(Call call, int nth, int error);
// Disarms whatever is still armed.
void clear();

}  // namespace qm730::savefault
