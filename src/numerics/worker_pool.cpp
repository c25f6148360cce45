#include "numerics/worker_pool.h"

#include <unistd.h>

WorkerPool::WorkerPool(int threads) {
    for (int t = 1; t < threads; ++t) workers_.emplace_back([this, t] { work(t); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread &w : workers_) w.join();
}

void WorkerPool::take_items(int thread) {
    for (;;) {
        std::int64_t item;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (next_ >= count_) return;
            item = next_++;
        }
        (*body_)(thread, item);
    }
}

void WorkerPool::work(int thread) {
    std::uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(lock_);
            wake_.wait(hold, [&] { return stop_ || job_ != seen; });
            if (stop_) return;
            seen = job_;
            ++busy_;
        }
        take_items(thread);
        {
            std::lock_guard<std::mutex> hold(lock_);
            --busy_;
        }
        finished_.notify_all();
    }
}

void WorkerPool::run(std::int64_t count, const std::function<void(int, std::int64_t)> &body,
                     const std::function<void()> &first) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        body_ = &body;
        count_ = count;
        next_ = 0;
        ++job_;
    }
    if (!workers_.empty()) wake_.notify_all();
    if (first) first();
    take_items(0);
    // Every item is taken; wait until the workers have finished theirs.
    std::unique_lock<std::mutex> hold(lock_);
    finished_.wait(hold, [&] { return busy_ == 0; });
    body_ = nullptr;
}

int online_processors() {
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n >= 1 ? static_cast<int>(n) : 1;
}
