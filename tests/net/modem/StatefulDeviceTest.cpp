#include <varonet/net/modem/StatefulDevice.h>

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include <varonet/base/FifoDevice.h>

TEST(StatefulDevice, ConfigurationIdsStartAtOneAndAreDistinctAcrossThreads) {
    Net::StatefulDevice line(new Base::FifoDevice(0));
    EXPECT_TRUE(line.getState() == 0 && line.getModemType() == Net::ModemUnchecked) << "a fresh line is not set up";
    std::vector<std::vector<unsigned int>> got(4);
    std::vector<std::thread> threads;
    for (auto& ids : got)
        threads.emplace_back([&line, &ids] {
            for (int i = 0; i < 500; ++i) ids.push_back(line.registerState());
        });
    for (auto& t : threads) t.join();
    std::set<unsigned int> all;
    for (auto& ids : got) all.insert(ids.begin(), ids.end());
    EXPECT_TRUE(all.size() == 2000 && *all.begin() == 1 && *all.rbegin() == 2000);
    line.write(Base::String("abc"));  // data passes through to the wrapped device
    char buffer[8] = {};
    EXPECT_EQ(line.readInternal(buffer, sizeof buffer), 3);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_EQ(line.getName(), "loopback:");
}
