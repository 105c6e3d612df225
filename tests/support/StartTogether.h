// Runs a body on several threads released at the same moment, to make
// first-use races likely; returns when every thread has finished.
#ifndef START_TOGETHER_H
#define START_TOGETHER_H

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace test_support {

inline void StartTogether(int threadCount, const std::function<void(int)>& body) {
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < threadCount; ++t) {
    threads.emplace_back([&, t] {
      ++ready;
      while (!go) {
      }
      body(t);
    });
  }
  while (ready < threadCount) {
  }
  go = true;
  for (std::thread& thread : threads) thread.join();
}

}  // namespace test_support

#endif  // START_TOGETHER_H
