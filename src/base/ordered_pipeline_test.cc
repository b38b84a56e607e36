#include "base/ordered_pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace velmarch {
namespace {

using On = OrderedPipeline::On;

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

TEST(OrderedPipeline, CallerStepsKeepTheOrderWhateverOrderWorkersFinishIn) {
  std::vector<int> opened, finished;
  std::vector<std::thread::id> callers;
  {
    OrderedPipeline pipeline(3, {On::worker, On::caller, On::worker, On::caller}, 8, 1000);
    std::mt19937 rng(5);
    for (int i = 0; i < 40; ++i) {
      int first = static_cast<int>(rng() % 3), second = static_cast<int>(rng() % 3);
      pipeline.add({[=] { sleep_ms(first); }, [&, i] { opened.push_back(i); },
                    [=] { sleep_ms(second); },
                    [&, i] {
                      finished.push_back(i);
                      callers.push_back(std::this_thread::get_id());
                    }});
    }
  }
  std::vector<int> in_order(40);
  for (int i = 0; i < 40; ++i) in_order[i] = i;
  EXPECT_EQ(opened, in_order);
  EXPECT_EQ(finished, in_order);
  for (std::thread::id id : callers) EXPECT_EQ(id, std::this_thread::get_id());
}

// Ordered steps keep the order too, but run on whichever worker gets there: a task goes from
// one worker step through its ordered step to the next without coming back to the caller.
TEST(OrderedPipeline, OrderedStepsKeepTheOrderOnTheWorkers) {
  std::vector<int> decided;
  std::mutex lock;
  std::set<std::thread::id> threads;
  {
    OrderedPipeline pipeline(2, {On::worker, On::ordered, On::worker}, 8, 1000);
    std::mt19937 rng(7);
    for (int i = 0; i < 40; ++i) {
      int wait = static_cast<int>(rng() % 3);
      pipeline.add({[=] { sleep_ms(wait); },
                    [&, i] {
                      decided.push_back(i);  // never two at once: each waits its turn
                      std::lock_guard<std::mutex> guard(lock);
                      threads.insert(std::this_thread::get_id());
                    },
                    [] {}});
    }
  }
  std::vector<int> in_order(40);
  for (int i = 0; i < 40; ++i) in_order[i] = i;
  EXPECT_EQ(decided, in_order);
  EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
}

TEST(OrderedPipeline, WorkerStepsOfDifferentTasksRunAtOnce) {
  std::atomic<int> started{0};
  bool met = false;
  {
    OrderedPipeline pipeline(2, {On::worker, On::caller}, 4, 1000);
    auto meet = [&] {
      ++started;
      for (int i = 0; i < 5000 && started < 2; ++i) sleep_ms(1);
    };
    pipeline.add({meet, nullptr});
    pipeline.add({meet, [&] { met = started == 2; }});
  }
  EXPECT_TRUE(met);
}

// A task whose work ends early, or fails, still takes its turn on the caller, and those after
// it go on.
TEST(OrderedPipeline, ATaskThatFailsStillFinishesInItsTurn) {
  std::vector<std::string> log;
  {
    OrderedPipeline pipeline(2, {On::worker, On::worker, On::caller}, 4, 1000);
    auto failed = std::make_shared<bool>(false);
    pipeline.add({[] { sleep_ms(20); }, nullptr, [&] { log.push_back("slow"); }});
    pipeline.add({[failed] { *failed = true; },
                  [failed, &log] {
                    if (!*failed) log.push_back("never");
                  },
                  [&log, failed] { log.push_back(*failed ? "failed" : "converted"); }});
    pipeline.add({nullptr, [] {}, [&] { log.push_back("next"); }});
  }
  EXPECT_EQ(log, (std::vector<std::string>{"slow", "failed", "next"}));
}

TEST(OrderedPipeline, TasksWaitForMemory) {
  OrderedPipeline pipeline(2, {On::worker, On::caller}, 16, 100);
  std::atomic<int> in_flight{0};
  int most = 0;
  for (int i = 0; i < 10; ++i) {
    pipeline.add({[&] {
                    int now = ++in_flight;
                    (void)now;
                    sleep_ms(2);
                  },
                  [&] {
                    most = std::max(most, in_flight.load());
                    --in_flight;
                  }},
                 60);
  }
  pipeline.add({nullptr, nullptr}, 150);  // more than the budget: runs alone
  pipeline.drain();
  EXPECT_EQ(most, 1);
  EXPECT_EQ(pipeline.peak_memory(), 150);
}

TEST(OrderedPipeline, WithoutWorkersEachTaskRunsWhenAdded) {
  OrderedPipeline pipeline(0, {On::worker, On::caller}, 4, 1000);
  std::vector<int> steps;
  pipeline.add({[&] { steps.push_back(1); }, [&] { steps.push_back(2); }});
  EXPECT_EQ(steps, (std::vector<int>{1, 2}));
  pipeline.add({[&] { steps.push_back(3); }, nullptr});
  EXPECT_EQ(steps, (std::vector<int>{1, 2, 3}));
}

}  // namespace
}  // namespace velmarch
