#pragma once
// Calls handed from one thread to another, and the worker thread an application session runs its
// device operations on. The window's thread never waits on a link: it posts the command to the
// session's worker, and the worker posts what the window must show back to the window's queue.
// Only std::mutex and std::condition_variable pass data between the threads.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// A queue of calls that one thread (its owner) runs. Any thread may post; `wake`, when given, is
// called after a call arrived in an empty queue, so that the owner comes to drain it.
class TCallQueue {
public:
    explicit TCallQueue(std::function<void()> wake = {}) : wake_(std::move(wake)) {}
    TCallQueue(const TCallQueue&) = delete;
    TCallQueue& operator=(const TCallQueue&) = delete;

    // The thread that drains; calls made on it run at once.
    void SetOwner(std::thread::id owner);
    bool OnOwner() const;

    // Queues `call`; false (and nothing queued) once the queue is closed.
    bool Post(std::function<void()> call);
    // Runs `call` on the owner and waits until it ran; at once when called on the owner. False
    // when the queue was closed before it could run (its owner is going away).
    bool Call(const std::function<void()>& call);
    // Runs every call queued so far, in order; the number that ran.
    size_t Drain();
    // Waits until a call is queued, the queue is closed or `ms` passed; true when calls wait.
    bool WaitFor(int ms);
    bool Pending() const;
    // Refuses new calls and releases everyone waiting in Call; queued calls are dropped.
    void Close();
    bool Closed() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> calls_;
    std::function<void()> wake_;
    std::thread::id owner_;
    bool closed_ = false;
};

// One thread that runs posted jobs one after the other. Started by the first job; the destructor
// waits for the job in progress and drops the rest.
class TSessionWorker {
public:
    // Starts a thread running `body` and gives what joins it. The default is a std::thread; a Qt
    // shell hands one whose thread Qt knows, so that Qt objects made on it (a serial port) work.
    using TThreadStarter = std::function<std::function<void()>(std::function<void()> body)>;

    TSessionWorker() = default;
    ~TSessionWorker();
    TSessionWorker(const TSessionWorker&) = delete;
    TSessionWorker& operator=(const TSessionWorker&) = delete;

    // Before the first job.
    void SetThreadStarter(TThreadStarter starter) { starter_ = std::move(starter); }
    void Post(std::function<void()> job);
    // Waits for the job in progress, drops the rest and ends the thread; later jobs are dropped.
    void Stop();
    bool OnWorker() const { return jobs_.OnOwner(); }
    // Called on the worker from inside a long job that waits (plug-and-program between two polls):
    // runs the jobs posted meanwhile, then waits up to `ms` for another one.
    void RunPendingFor(int ms);
    // Jobs posted and not yet started.
    bool Pending() const { return jobs_.Pending(); }

private:
    void Loop();

    TCallQueue jobs_;
    TThreadStarter starter_;
    std::function<void()> join_;
    std::mutex startMutex_;
};
