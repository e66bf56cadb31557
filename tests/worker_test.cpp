// The calls one thread hands another, the session's worker, and a session whose command runs on
// its worker while another thread confirms the abort. Runs under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/session.h"
#include "app/worker.h"
#include "devices/devices.h"
#include "image/hexlist.h"
#include "link/hardware.h"
#include "link/programmer.h"
#include "sim/boxmodel.h"
#include "sim/simserial.h"

TEST(Worker, CallsRunInOrderOnTheirOwnerAndAnAnswerIsWaitedFor)
{
    TCallQueue queue;
    queue.SetOwner(std::this_thread::get_id());
    std::vector<int> ran;
    queue.Post([&] { ran.push_back(1); });
    queue.Post([&] { ran.push_back(2); });
    // On the owner a call runs at once, ahead of what is queued.
    queue.Call([&] { ran.push_back(0); });
    EXPECT_EQ(ran, (std::vector<int>{0}));
    EXPECT_EQ(queue.Drain(), 2u);
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));

    // From another thread the call waits until the owner ran it.
    int answer = 0;
    std::thread asker([&] { EXPECT_TRUE(queue.Call([&] { answer = 42; })); });
    while (!queue.WaitFor(10)) {
    }
    queue.Drain();
    asker.join();
    EXPECT_EQ(answer, 42);

    // A closed queue releases whoever waits, and takes nothing more.
    std::promise<bool> answered;
    std::thread late([&] { answered.set_value(queue.Call([] {})); });
    while (!queue.Pending()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    queue.Close();
    EXPECT_FALSE(answered.get_future().get());
    late.join();
    EXPECT_FALSE(queue.Post([] {}));
}

TEST(Worker, JobsRunOneAfterTheOtherOffTheCallersThreadAndStopWaitsForTheCurrentOne)
{
    std::mutex m;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    std::promise<void> releaseFirst;
    std::shared_future<void> released = releaseFirst.get_future().share();
    std::promise<void> firstStarted;
    {
        TSessionWorker worker;
        worker.Post([&] {
            firstStarted.set_value();
            released.wait();
            std::lock_guard<std::mutex> lock(m);
            order.push_back(1);
            threads.push_back(std::this_thread::get_id());
        });
        worker.Post([&] {
            std::lock_guard<std::mutex> lock(m);
            order.push_back(2);
            threads.push_back(std::this_thread::get_id());
        });
        firstStarted.get_future().wait();
        EXPECT_TRUE(worker.Pending());
        releaseFirst.set_value();
        // Waits for the second job to be done before the worker goes.
        for (int i = 0; i < 1000; ++i) {
            {
                std::lock_guard<std::mutex> lock(m);
                if (order.size() == 2) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ASSERT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(threads[0], threads[1]);
    EXPECT_NE(threads[0], std::this_thread::get_id());
}

TEST(Worker, ALongJobRunsWhatWasPostedBetweenItsPolls)
{
    TSessionWorker worker;
    std::atomic<bool> stop{false};
    std::atomic<int> polls{0};
    std::promise<std::thread::id> between;
    worker.Post([&] {
        while (!stop) {
            ++polls;
            worker.RunPendingFor(5);
        }
    });
    while (polls == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    worker.Post([&] { between.set_value(std::this_thread::get_id()); });
    const std::thread::id ranOn = between.get_future().get();
    EXPECT_NE(ranOn, std::this_thread::get_id());
    stop = true;
}

namespace {

// Tells the test when the programming's progress began, and holds it until the test confirmed Abort.
class TProgressGate final : public TNullShellView {
public:
    void ShowProgress(int32_t position, int32_t, const std::string&) override
    {
        if (position <= 0) return;
        std::unique_lock<std::mutex> lock(m_);
        started_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
    }
    void WaitStarted()
    {
        std::unique_lock<std::mutex> lock(m_);
        changed_.wait(lock, [this] { return started_; });
    }
    void Release()
    {
        std::lock_guard<std::mutex> lock(m_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex m_;
    std::condition_variable changed_;
    bool started_ = false;
    bool released_ = false;
};

}  // namespace

TEST(Worker, AnAbortConfirmedOnAnotherThreadEndsProgrammingAndTheBoxLeavesProgrammingMode)
{
    TProgressGate view;
    TAppSession session(view, nullptr);
    TBoxModel box(*DeviceList().FindDevice("COP8SBR9", 0xFF));
    TSimSerialInstall install(session.LinkContext(), box);

    std::promise<TOutcome> switched;
    session.Start([&] { session.SwitchDevice("COP8SBR9", kHardwareCom, false); },
                  [&](TOutcome o) { switched.set_value(o); });
    ASSERT_EQ(switched.get_future().get(), TOutcome::Completed);

    std::promise<TOutcome> programmed;
    session.Start(
        [&] {
            THexList& image = session.Project().Flash;
            for (uint32_t a = 0; a < image.Size(); ++a) image.SetValue(a, static_cast<uint8_t>(a));
            session.Runner().StartProgressOp("Flash: Programming");
            session.Programmer()->ProgramFlash(image);
            session.Runner().EndOp("Flash: Programming Complete");
        },
        [&](TOutcome o) { programmed.set_value(o); });
    view.WaitStarted();
    EXPECT_TRUE(session.Runner().Busy());
    EXPECT_FALSE(session.CanClose());
    session.Runner().RequestAbort();
    view.Release();
    EXPECT_EQ(programmed.get_future().get(), TOutcome::Cancelled);
    // The worker is idle again: its figures are the caller's to read.
    EXPECT_EQ(session.Runner().StatusText(), "Operation Cancelled by user");
    EXPECT_TRUE(session.CanClose());
    EXPECT_FALSE(box.ProgrammingMode());
    EXPECT_TRUE(box.Violations().empty());
}
