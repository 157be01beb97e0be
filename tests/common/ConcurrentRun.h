#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Runs `body` on `threadCount` threads at once and waits at most `limit` for
// all of them. False means some thread hung: its threads are left detached,
// so the test fails instead of hanging CI.
inline bool runConcurrently(int threadCount, const std::function<void()>& body,
                            std::chrono::seconds limit = std::chrono::seconds(60))
{
    struct Shared {
        std::mutex mutex;
        std::condition_variable allDone;
        int finished = 0;
    };
    // Shared ownership: detached threads may still touch it after we return.
    auto shared = std::make_shared<Shared>();
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([shared, body] {
            body();
            std::lock_guard lock(shared->mutex);
            ++shared->finished;
            shared->allDone.notify_one();
        });
    }
    std::unique_lock lock(shared->mutex);
    const bool done = shared->allDone.wait_for(lock, limit, [&] { return shared->finished == threadCount; });
    lock.unlock();
    for (std::thread& thread : threads)
        done ? thread.join() : thread.detach();
    return done;
}
