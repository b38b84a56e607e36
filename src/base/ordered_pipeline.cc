#include "base/ordered_pipeline.h"

#include <algorithm>

namespace velmarch {

OrderedPipeline::OrderedPipeline(int workers, std::vector<On> plan, size_t window,
                                 int64_t memory_budget)
    : plan_(std::move(plan)), window_(std::max<size_t>(window, 1)), memory_budget_(memory_budget) {
  for (int i = 0; i < workers; ++i) workers_.emplace_back([this] { work(); });
}

OrderedPipeline::~OrderedPipeline() {
  drain();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_ready_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void OrderedPipeline::add(std::vector<Step> steps, int64_t memory) {
  if (workers_.empty()) {
    peak_memory_ = std::max(peak_memory_, memory);
    for (Step& step : steps) {
      if (step) step();
    }
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  while (!tasks_.empty() &&
         (tasks_.size() >= window_ || memory_in_flight_ + memory > memory_budget_)) {
    advance(lock, true);
  }
  auto task = std::make_unique<Task>();
  task->steps = std::move(steps);
  task->memory = memory;
  tasks_.push_back(std::move(task));
  memory_in_flight_ += memory;
  peak_memory_ = std::max(peak_memory_, memory_in_flight_);
  advance(lock, false);
}

void OrderedPipeline::drain() {
  if (workers_.empty()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!tasks_.empty()) advance(lock, true);
}

bool OrderedPipeline::advance(std::unique_lock<std::mutex>& lock, bool wait) {
  bool progress = false;
  // Bit s: an earlier task has yet to finish step s, so no later task may run it in order.
  uint64_t unfinished_before = 0;
  const uint64_t all_steps = plan_.size() >= 64 ? ~uint64_t{0} : (uint64_t{1} << plan_.size()) - 1;
  for (const std::unique_ptr<Task>& owned : tasks_) {
    Task& task = *owned;
    while (!task.running && task.next < plan_.size()) {
      size_t step = task.next;
      if (!task.steps[step]) {
        ++task.next;
        progress = true;
        continue;
      }
      bool in_order = plan_[step] != On::worker;
      if (in_order && (unfinished_before & (uint64_t{1} << step)) != 0) break;
      if (plan_[step] != On::caller) {
        task.running = true;
        work_.push_back(&task);
        work_ready_.notify_one();
        progress = true;
        break;
      }
      // Caller steps run without the lock, so that workers go on meanwhile; only this thread
      // adds or removes tasks.
      Step run = std::move(task.steps[step]);
      lock.unlock();
      run();
      lock.lock();
      ++task.next;
      progress = true;
    }
    unfinished_before |= all_steps & ~((uint64_t{1} << task.next) - 1);
  }
  while (!tasks_.empty() && tasks_.front()->next == plan_.size()) {
    memory_in_flight_ -= tasks_.front()->memory;
    tasks_.pop_front();
    progress = true;
  }
  if (!progress && wait) {
    caller_waiting_ = true;
    step_done_.wait(lock);
    caller_waiting_ = false;
  }
  return progress;
}

bool OrderedPipeline::turn_of(const Task& task, size_t step) const {
  for (const std::unique_ptr<Task>& earlier : tasks_) {
    if (earlier.get() == &task) return true;
    if (earlier->next <= step) return false;
  }
  return true;
}

bool OrderedPipeline::caller_may_go_on(const Task& task) const {
  if (task.next == plan_.size()) return tasks_.front().get() == &task;
  return turn_of(task, task.next);
}

void OrderedPipeline::carry_on(std::unique_lock<std::mutex>& lock, Task& task) {
  task.running = false;  // it is this thread's now, under the lock
  while (task.next < plan_.size()) {
    size_t step = task.next;
    if (!task.steps[step]) {
      ++task.next;
      continue;
    }
    if (plan_[step] == On::caller || (plan_[step] == On::ordered && !turn_of(task, step))) break;
    task.running = true;
    Step run = std::move(task.steps[step]);
    lock.unlock();
    run();
    lock.lock();
    task.next = step + 1;
    task.running = false;
    if (plan_[step] != On::ordered) continue;
    // The task after this one may have been waiting for its turn at this step.
    for (size_t i = 0; i + 1 < tasks_.size(); ++i) {
      if (tasks_[i].get() != &task) continue;
      Task& after = *tasks_[i + 1];
      if (!after.running && after.next == step) {
        after.running = true;
        work_.push_back(&after);
        work_ready_.notify_one();
      }
      break;
    }
  }
  // Waking the caller costs a switch of threads: only when it has something to do.
  if (caller_waiting_ && caller_may_go_on(task)) step_done_.notify_one();
}

void OrderedPipeline::work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_ready_.wait(lock, [this] { return stopping_ || !work_.empty(); });
    if (work_.empty()) return;
    Task* task = work_.front();
    work_.pop_front();
    carry_on(lock, *task);
  }
}

}  // namespace velmarch
