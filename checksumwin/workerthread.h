// One thread that runs jobs one after another, in the order given: the work
// the windows hand off their own thread (reading checksum lists, opening the
// hash cache, hashing an image). The thread starts with the first job, so a
// window that never hands anything off costs none.
//
// Plain C++ (no Qt): a job that has something to tell the window posts it
// back itself (QMetaObject::invokeMethod with a queued connection).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace kelvo {

class WorkerThread {
public:
    WorkerThread() = default;
    // Drops the jobs not started and waits for the one running. Whatever a
    // job uses must outlive this: declare the worker after what it uses.
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs `job` after those posted before it. A job must not throw.
    void post(std::function<void()> job);
    // Drops the jobs not yet started; the running one goes on.
    void dropPending();
    // Waits until no job is running or waiting, at most `timeout`; returns
    // whether that is so.
    bool waitIdle(std::chrono::milliseconds timeout);

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_; // a job arrived, or stop
    std::condition_variable idle_; // the last job ended
    std::deque<std::function<void()>> jobs_;
    bool busy_ = false;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace kelvo
