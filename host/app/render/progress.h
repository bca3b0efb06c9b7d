// A progress bar on a terminal: frames done, frames a second, time left.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace tavhost {

class Progress {
  public:
    Progress(int64_t total, bool quiet) : total_(total), show_(!quiet && isatty(STDERR_FILENO)) {}

    void Update(int64_t done) {
        if (!show_) return;
        const auto now = std::chrono::steady_clock::now();
        if (done < total_ && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        const double fps = elapsed > 0 ? double(done) / elapsed : 0.0;
        const int left = fps > 0 ? int(double(total_ - done) / fps + 0.5) : 0;
        const int width = 30;
        const int filled = total_ > 0 ? int(width * done / total_) : width;
        char bar[width + 1];
        for (int i = 0; i < width; ++i) bar[i] = i < filled ? '#' : '.';
        bar[width] = '\0';
        std::fprintf(stderr, "\r[%s] %lld/%lld frames  %5.1f fps  %d:%02d left ", bar,
                     static_cast<long long>(done), static_cast<long long>(total_), fps, left / 60,
                     left % 60);
        std::fflush(stderr);
        drawn_ = true;
    }

    void Done() {
        if (drawn_) std::fputc('\n', stderr);
        drawn_ = false;
    }

    ~Progress() { Done(); }

  private:
    int64_t total_;
    bool show_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point last_{};
};

}  // namespace tavhost
