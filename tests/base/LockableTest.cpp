#include <varonet/base/Lockable.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <varonet/base/StopWatch.h>
#include <varonet/base/Thread.h>

TEST(Lockable, ReentrantForTheHolder) {
    Base::Lockable lock;
    lock.lock();
    EXPECT_TRUE(lock.trylock(0));
    lock.unlock();
    EXPECT_TRUE(lock.isLocked());
    lock.unlock();
    EXPECT_FALSE(lock.isLocked());
    lock.unlock();  // unlocking a free lock does nothing
    EXPECT_FALSE(lock.isLocked());
}

TEST(Lockable, OtherThreadsWaitAndTimeOut) {
    Base::Lockable lock;
    lock.lock();
    bool got = true;
    std::uint64_t waited = 0;
    std::thread other([&] {
        OS::StopWatch watch;
        got = lock.trylock(50);
        waited = watch.getElapsed();
    });
    other.join();
    EXPECT_FALSE(got);
    EXPECT_GE(waited, 45u);
    std::thread([&] { got = lock.trylock(); }).join();
    EXPECT_FALSE(got);
    lock.unlock();
}

TEST(Lockable, AnotherThreadMayUnlock) {
    // A server locks a line on its thread; the call it hands out releases it elsewhere.
    Base::Lockable lock;
    std::thread([&] { lock.lock(); }).join();
    EXPECT_TRUE(lock.isLocked());
    EXPECT_FALSE(lock.trylock(0));
    lock.unlock();
    EXPECT_TRUE(lock.trylock(0));
    lock.unlock();
}

TEST(Lockable, WaiterWakesWhenReleased) {
    Base::Lockable lock;
    lock.lock();
    std::atomic<bool> got{false};
    std::thread other([&] {
        got = lock.trylock(5000);
        lock.unlock();
    });
    Thread::Thread::sleep(20);
    OS::StopWatch watch;
    lock.unlock();
    other.join();
    EXPECT_TRUE(got);
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
    EXPECT_TRUE(worker.isRunning() || worker.rounds == 0);
    OS::StopWatch watch;
    worker.stop();
    worker.join();
    EXPECT_FALSE(worker.isRunning());
    EXPECT_LT(watch.getElapsed(), 2000u);
    EXPECT_EQ(worker.rounds, 0);
}
