// A fixed set of threads that work through the items of a loop together with
// the thread that starts it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class WorkerPool {
public:
    // threads >= 1 threads in all: the caller and threads - 1 workers.
    explicit WorkerPool(int threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    int threads() const { return static_cast<int>(workers_.size()) + 1; }

    // Calls body(thread, item) once for every item of [0, count), on all
    // threads (thread 0 is the caller), items handed out in increasing order,
    // and returns when every item is done. The caller first runs `first`
    // (when given) while the workers already take items.
    void run(std::int64_t count, const std::function<void(int, std::int64_t)> &body,
             const std::function<void()> &first = nullptr);

private:
    void work(int thread);
    void take_items(int thread);

    std::vector<std::thread> workers_;
    std::mutex lock_;
    std::condition_variable wake_, finished_;
    const std::function<void(int, std::int64_t)> *body_ = nullptr;
    std::int64_t count_ = 0, next_ = 0;
    std::uint64_t job_ = 0;
    int busy_ = 0;
    bool stop_ = false;
};

// The number of processors online (at least 1).
int online_processors();
