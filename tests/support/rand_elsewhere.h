// Other code in the process using the C library's rand() while a test draws:
// a thread that reseeds it and draws from it for as long as the object lives.
#pragma once

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

namespace tavtest {

class RandElsewhere {
  public:
    RandElsewhere()
        : thread_([this] {
              for (unsigned n = 0; !done_.load(); ++n) {
                  std::srand(n);
                  for (int k = 0; k < 64; ++k) (void)std::rand();
              }
          }) {}
    ~RandElsewhere() {
        done_ = true;
        thread_.join();
    }
    RandElsewhere(const RandElsewhere&) = delete;
    RandElsewhere& operator=(const RandElsewhere&) = delete;

  private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Calls `same(i)` `rounds` times on each of two threads at once (i = 0, 1),
// with RandElsewhere running: how many calls returned false.
template <class Same>
int DifferingOnTwoThreads(int rounds, Same same) {
    RandElsewhere elsewhere;
    std::atomic<int> differing{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i)
        threads.emplace_back([&, i] {
            for (int round = 0; round < rounds; ++round)
                if (!same(i)) ++differing;
        });
    for (std::thread& t : threads) t.join();
    return differing.load();
}

}  // namespace tavtest
