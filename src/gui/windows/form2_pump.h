// Waiting inside the transfer dialog: the protocol's fixed delays run the
// event loop, so the windows repaint and the timers run while the line rests.
#pragma once

#include "core/link/transfer_io.h"

class Form2Pump : public qm730::TransferPump {
public:
    // Returns after at least the given time; meanwhile every pending event
    // is delivered as it comes, without spinning a core.
    void DelayMs(int milliseconds) override;
};
