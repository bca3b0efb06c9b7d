// Makes a graphics world the current port for the length of a scope and puts
// back the port and device that were current before, on every way out.
#pragma once

#include "tav/quickdraw.h"

namespace tavhost {

class ScopedPort {
  public:
    explicit ScopedPort(GWorldPtr world) {
        GetGWorld(&port_, &device_);
        SetGWorld(world, nullptr);
    }
    ~ScopedPort() { SetGWorld(port_, device_); }
    ScopedPort(const ScopedPort&) = delete;
    ScopedPort& operator=(const ScopedPort&) = delete;

  private:
    CGrafPtr port_ = nullptr;
    GDHandle device_ = nullptr;
};

}  // namespace tavhost
