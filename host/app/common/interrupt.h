// The one flag a signal raises to stop the work (Ctrl-C, SIGTERM, SIGHUP, a
// closed pipe), and the FFmpeg callback that makes every wait of FFmpeg's on
// input or output give up when it is raised.
#pragma once

#include <atomic>

extern "C" {
#include <libavformat/avio.h>
}

namespace tavhost {

// Set from a signal handler; work in progress stops, leaving no output.
extern std::atomic<bool> gInterrupted;

namespace media {

// For AVFormatContext::interrupt_callback and avio_open2.
AVIOInterruptCB InterruptCallback();

}  // namespace media

// Installs the handlers, without restarting interrupted system calls, so that
// a read or write blocked on a pipe or FIFO returns and the flag is seen.
// The signal that stopped the work is in StopSignal() afterwards.
void CatchStopSignals();
int StopSignal();

}  // namespace tavhost
