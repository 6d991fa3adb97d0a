// The re-entrant lock across threads, and a thread's stop request and join.
#include <varonet/base/Lockable.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <varonet/base/StopWatch.h>
#include <varonet/base/Thread.h>
#include <varonet/base/WakeSignal.h>

#include "support/TestCalls.h"

TEST(Lockable, ReentrantForTheHolderFreedByAnyThreadAndWakingAWaiter) {
    Base::Lockable lock;
    std::thread([&] { lock.lock(); }).join();  // a server locks a line on its thread ...
    EXPECT_FALSE(lock.trylock(0));
    lock.unlock();  // ... and the call it hands out releases it elsewhere
    lock.lock();
    EXPECT_TRUE(lock.trylock(0));
    lock.unlock();
    EXPECT_TRUE(lock.isLocked());
    std::thread([&] {
        OS::StopWatch watch;
        EXPECT_FALSE(lock.trylock(50));
        EXPECT_FALSE(lock.trylock());
        EXPECT_GE(watch.getElapsed(), 45u);
    }).join();
    auto waiter = TestSupport::startBlocked([&] {
        bool got = lock.trylock(5000);
        lock.unlock();
        return got;
    });
    OS::StopWatch watch;
    lock.unlock();
    EXPECT_TRUE(waiter.get());
    EXPECT_LT(watch.getElapsed(), 1000u);
    lock.unlock();  // unlocking a free lock does nothing
    EXPECT_FALSE(lock.isLocked());
}

TEST(Thread, StopWakesWaitForStopAndJoinWaits) {
    struct Worker : Thread::Thread {
        std::atomic<int> rounds{0};
        void run() override {
            while (!waitForStop(10000)) ++rounds;
        }
    } worker;
    worker.start();
    OS::StopWatch watch;
    worker.stop();
    worker.join();
    EXPECT_FALSE(worker.isRunning());
    EXPECT_EQ(worker.rounds, 0);
    EXPECT_LT(watch.getElapsed(), 2000u);
}

// A wake-up given before a pause ends that pause at once and is used up by it; a look (a pause of 0 ms) leaves
// it pending. (Waking a pause that runs is what the servers' tests do.)
TEST(Thread, WakeSignalEndsTheNextPauseAndALookLeavesItPending) {
    Thread::WakeSignal wake;
    wake.wake();
    EXPECT_FALSE(wake.pause(0));
    EXPECT_TRUE(wake.pause(60000));
    EXPECT_FALSE(wake.take()) << "used up";
}
