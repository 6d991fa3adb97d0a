#include <varonet/base/Lockable.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <varonet/base/StopWatch.h>
#include <varonet/base/Thread.h>

#include "support/TestCalls.h"

TEST(Lockable, ReentrantForTheHolderAndFreedByAnyThread) {
    Base::Lockable lock;
    std::thread([&] { lock.lock(); }).join();  // a server locks a line on its thread ...
    EXPECT_FALSE(lock.trylock(0));
    lock.unlock();  // ... and the call it hands out releases it elsewhere
    EXPECT_FALSE(lock.isLocked());
    lock.lock();
    EXPECT_TRUE(lock.trylock(0));
    lock.unlock();
    EXPECT_TRUE(lock.isLocked());
    lock.unlock();
    lock.unlock();  // unlocking a free lock does nothing
    EXPECT_FALSE(lock.isLocked());
}

TEST(Lockable, OtherThreadsTimeOutOrWakeWhenReleased) {
    Base::Lockable lock;
    lock.lock();
    std::thread([&] {
        OS::StopWatch watch;
        EXPECT_FALSE(lock.trylock(50));
        EXPECT_GE(watch.getElapsed(), 45u);
        EXPECT_FALSE(lock.trylock());
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
    EXPECT_LT(watch.getElapsed(), 2000u);
    EXPECT_EQ(worker.rounds, 0);
}
