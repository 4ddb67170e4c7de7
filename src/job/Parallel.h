#pragma once

// Independent pieces of work (a survey's samples, each drawing from its own stream) spread over the
// machine's cores; the results are what one core would give, in the same order.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace ordana::job {

template <class Work> void forEachIndex(std::size_t count, Work work) {
#ifdef __EMSCRIPTEN__
    // The page's build has no threads.
    for (std::size_t i = 0; i < count; ++i)
        work(i);
#else
    const std::size_t threads =
        std::min<std::size_t>(count, std::max(1u, std::thread::hardware_concurrency()));
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::mutex mutex;
    const auto worker = [&] {
        for (std::size_t i; (i = next++) < count;) {
            try {
                work(i);
            } catch (...) {
                const std::lock_guard<std::mutex> lock(mutex);
                if (!failure) failure = std::current_exception();
                next = count;
            }
        }
    };
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < threads; ++t)
        pool.emplace_back(worker);
    worker();
    for (auto& thread : pool)
        thread.join();
    if (failure) std::rethrow_exception(failure);
#endif
}

} // namespace ordana::job
