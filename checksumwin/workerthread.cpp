#include "checksumwin/workerthread.h"

namespace kelvo {

WorkerThread::~WorkerThread() {
    {
        const std::lock_guard lock(mutex_);
        jobs_.clear();
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void WorkerThread::post(std::function<void()> job) {
    {
        const std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        if (!thread_.joinable())
            thread_ = std::thread(&WorkerThread::run, this);
    }
    wake_.notify_one();
}

void WorkerThread::dropPending() {
    const std::lock_guard lock(mutex_);
    jobs_.clear();
    if (!busy_)
        idle_.notify_all();
}

bool WorkerThread::waitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, timeout, [this] { return jobs_.empty() && !busy_; });
}

void WorkerThread::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
        if (stop_)
            return;
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        busy_ = true;
        lock.unlock();
        job();
        job = nullptr; // what it captured goes before the worker counts as idle
        lock.lock();
        busy_ = false;
        if (jobs_.empty())
            idle_.notify_all();
    }
}

} // namespace kelvo
