#include "interrupt.h"

#include <csignal>

namespace tavhost {

std::atomic<bool> gInterrupted{false};

namespace {

volatile std::sig_atomic_t gSignal = 0;

void OnSignal(int signal) {
    gSignal = signal;
    gInterrupted = true;
}

int Interrupted(void*) {
    return gInterrupted ? 1 : 0;
}

}  // namespace

namespace media {

AVIOInterruptCB InterruptCallback() {
    return AVIOInterruptCB{Interrupted, nullptr};
}

}  // namespace media

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: blocked calls return with EINTR
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
        sigaction(signal, &action, nullptr);
}

int StopSignal() {
    return int(gSignal);
}

}  // namespace tavhost
