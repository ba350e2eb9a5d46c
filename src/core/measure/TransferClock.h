// The moments of one timed transfer, shared by the download and the upload run.
#pragma once

#include "core/platform/Tick.h"

#include <cstdint>

// Millisecond ticks of the run, and the transfer's two moments again in microseconds so that
// a fast line reads true.
struct TransferClock {
    std::uint32_t RunStartTick = 0;
    std::uint32_t ConnectTick = 0;
    std::uint32_t TransferStartTick = 0;
    std::uint32_t TransferEndTick = 0;
    std::int64_t TransferStartMicros = 0;
    std::int64_t TransferEndMicros = 0;

    void StartRun() { RunStartTick = Tick(); }
    void Connected() { ConnectTick = Tick(); }
    void StartTransfer() {
        TransferStartTick = Tick();
        TransferStartMicros = TickMicros();
    }
    void EndTransfer() { EndTransferAt(Tick(), TickMicros()); }
    void EndTransferAt(std::uint32_t tick, std::int64_t micros) {
        TransferEndTick = tick;
        TransferEndMicros = micros;
    }
    std::int32_t ConnectMs() const { return TickDiff(ConnectTick, RunStartTick); }
    std::int64_t TransferMicros() const { return TransferEndMicros - TransferStartMicros; }
    void Clear() { *this = {}; }
};
