// The background blob worker: jobs run in order, failures reach their own
// client only, and a full queue holds submitters back without losing jobs.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "common/OSM/BlobWorker.h"

namespace {

using OSM::CBlobWorker;

TEST(BlobWorker, JobsRunInOrderAndFailuresReachTheirOwnTicket)
{
    CBlobWorker& worker = CBlobWorker::Instance();
    std::vector<int> order;
    std::vector<CBlobWorker::TTicket> tickets(10);
    for (int round = 0; round < 50; ++round) {
        for (int t = 0; t < 10; ++t) {
            worker.Wait(tickets[t]);
            worker.Submit(tickets[t], [&order, round, t] { order.push_back(round * 10 + t); });
        }
    }
    for (CBlobWorker::TTicket& ticket : tickets)
        worker.Wait(ticket);
    ASSERT_EQ(order.size(), 500u);
    for (int i = 0; i < 500; ++i)
        EXPECT_EQ(order[i], i);

    CBlobWorker::TTicket failing, fine;
    worker.Submit(failing, [] { throw std::runtime_error("disk full"); });
    std::atomic<bool> ran{false};
    worker.Submit(fine, [&ran] { ran = true; });
    EXPECT_NO_THROW(worker.Wait(fine));
    EXPECT_TRUE(ran);
    EXPECT_THROW(worker.Wait(failing), std::runtime_error);
    EXPECT_NO_THROW(worker.Wait(failing));  // reported once
}

}  // namespace
