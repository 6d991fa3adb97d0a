#include <varonet/net/modem/StatefulDevice.h>

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include <varonet/base/FifoDevice.h>

namespace {

class CountedFifo : public Base::FifoDevice {
public:
    explicit CountedFifo(int& deleted) : Base::FifoDevice(0), mrDeleted(deleted) {}
    ~CountedFifo() override { ++mrDeleted; }

private:
    int& mrDeleted;
};

TEST(StatefulDevice, ConfigurationIdsStartAtOneAndAreDistinctAcrossThreads) {
    Net::StatefulDevice line(new Base::FifoDevice(0));
    EXPECT_EQ(line.getState(), 0u) << "a fresh line is not set up";
    EXPECT_EQ(line.getModemType(), Net::ModemUnchecked);
    std::vector<std::vector<unsigned int>> got(4);
    std::vector<std::thread> threads;
    for (auto& ids : got)
        threads.emplace_back([&line, &ids] {
            for (int i = 0; i < 500; ++i) ids.push_back(line.registerState());
        });
    for (auto& t : threads) t.join();
    std::set<unsigned int> all;
    for (auto& ids : got) all.insert(ids.begin(), ids.end());
    EXPECT_EQ(all.size(), 2000u);
    EXPECT_EQ(*all.begin(), 1u);
    EXPECT_EQ(*all.rbegin(), 2000u);
}

TEST(StatefulDevice, ForwardsDataAndOwnsTheLineDeviceOnlyWhenTold) {
    int deleted = 0;
    {
        Net::StatefulDevice line(new CountedFifo(deleted));
        line.write(Base::String("abc"));
        char buffer[8] = {};
        EXPECT_EQ(line.size(), 3);
        EXPECT_EQ(line.readInternal(buffer, sizeof buffer), 3);
        EXPECT_EQ(std::string(buffer, 3), "abc");
        EXPECT_EQ(line.getName(), "loopback:");
    }
    EXPECT_EQ(deleted, 1);
    CountedFifo shared(deleted);
    { Net::StatefulDevice line(&shared, false); }
    EXPECT_EQ(deleted, 1);
}

}  // namespace
