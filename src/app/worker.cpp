#include "app/worker.h"

#include <memory>
#include <utility>

void TCallQueue::SetOwner(std::thread::id owner)
{
    std::lock_guard<std::mutex> lock(mutex_);
    owner_ = owner;
}

bool TCallQueue::OnOwner() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return owner_ == std::this_thread::get_id();
}

bool TCallQueue::Post(std::function<void()> call)
{
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return false;
        wasEmpty = calls_.empty();
        calls_.push_back(std::move(call));
    }
    changed_.notify_all();
    if (wasEmpty && wake_) wake_();
    return true;
}

bool TCallQueue::Call(const std::function<void()>& call)
{
    if (OnOwner()) {
        call();
        return true;
    }
    // The call's own flag tells when it ran; a closed queue drops it and says so.
    struct TDone {
        bool ran = false;
    };
    auto done = std::make_shared<TDone>();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return false;
    }
    const bool posted = Post([this, done, &call] {
        call();
        std::lock_guard<std::mutex> lock(mutex_);
        done->ran = true;
    });
    if (!posted) return false;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return done->ran || closed_; });
    return done->ran;
}

size_t TCallQueue::Drain()
{
    size_t count = 0;
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (calls_.empty()) break;
            call = std::move(calls_.front());
            calls_.pop_front();
        }
        call();
        changed_.notify_all();
        ++count;
    }
    return count;
}

bool TCallQueue::WaitFor(int ms)
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(ms < 0 ? 0 : ms), [this] { return !calls_.empty() || closed_; });
    return !calls_.empty();
}

bool TCallQueue::Pending() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return !calls_.empty();
}

void TCallQueue::Close()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        calls_.clear();
    }
    changed_.notify_all();
}

bool TCallQueue::Closed() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

TSessionWorker::~TSessionWorker() { Stop(); }

void TSessionWorker::Stop()
{
    jobs_.Close();
    std::function<void()> join;
    {
        std::lock_guard<std::mutex> lock(startMutex_);
        // A job that ends its own session must not wait for itself.
        if (jobs_.OnOwner()) return;
        join = std::exchange(join_, nullptr);
    }
    if (join) join();
}

void TSessionWorker::Post(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(startMutex_);
        if (jobs_.Closed()) return;
        if (!join_) {
            if (starter_) {
                join_ = starter_([this] { Loop(); });
            } else {
                auto thread = std::make_shared<std::thread>([this] { Loop(); });
                join_ = [thread] { thread->join(); };
            }
        }
    }
    jobs_.Post(std::move(job));
}

void TSessionWorker::Loop()
{
    jobs_.SetOwner(std::this_thread::get_id());
    while (!jobs_.Closed()) {
        jobs_.Drain();
        jobs_.WaitFor(1000);
    }
}

void TSessionWorker::RunPendingFor(int ms)
{
    jobs_.Drain();
    if (jobs_.WaitFor(ms)) jobs_.Drain();
}
