// Every call of a save is made: the answer the programs link. It is the only
// definition in this file, so a test program's own definition takes its
// place at link time and this one is never linked beside it.
#include "core/config/savefaults.h"

namespace qm730::savefault {

bool saveCallFails(Call) { return false; }

}  // namespace qm730::savefault
