#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace velmarch {

/// Runs tasks that share one plan of steps, some on worker threads and some on the thread that
/// adds the tasks (the caller). A caller step, or an ordered step, of a task runs only after the
/// same step of every earlier task, so whatever those steps do happens in the order the tasks
/// were added, while the worker steps of many tasks overlap. Ordered steps run on whichever
/// thread gets to them first, so that a worker carries a task on without handing it over.
/// Without workers every step of a task runs at once, in order, when it is added: a plain
/// sequential run.
class OrderedPipeline {
 public:
  enum class On { worker, ordered, caller };
  /// One step of one task; an empty step is passed over.
  using Step = std::function<void()>;

  /// At most `window` tasks are in flight, and the memory they say they hold stays within
  /// `memory_budget` (a task that alone needs more runs alone).
  OrderedPipeline(int workers, std::vector<On> plan, size_t window, int64_t memory_budget);
  /// Finishes every task, then stops the workers.
  ~OrderedPipeline();
  OrderedPipeline(const OrderedPipeline&) = delete;
  OrderedPipeline& operator=(const OrderedPipeline&) = delete;

  /// Adds a task with one step per entry of the plan. Waits, running caller steps of earlier
  /// tasks meanwhile, until the task fits in the window and the memory budget.
  void add(std::vector<Step> steps, int64_t memory = 0);
  /// Runs every step of every task added so far.
  void drain();

  /// The most memory the tasks in flight held at once.
  int64_t peak_memory() const { return peak_memory_; }

 private:
  struct Task {
    std::vector<Step> steps;
    int64_t memory = 0;
    size_t next = 0;       // the first step not yet done
    bool running = false;  // a worker is running step `next`
  };

  // Runs what is ready on the caller's thread and hands ready worker steps out; with wait,
  // blocks for a worker when nothing could be done. Called with lock held.
  bool advance(std::unique_lock<std::mutex>& lock, bool wait);
  // Whether every task before this one has done the step; called with lock held.
  bool turn_of(const Task& task, size_t step) const;
  // Whether the task may now run its next step on the caller, or leave. Called with lock held.
  bool caller_may_go_on(const Task& task) const;
  // Runs the task's steps on this worker for as long as they may run here.
  void carry_on(std::unique_lock<std::mutex>& lock, Task& task);
  void work();

  const std::vector<On> plan_;
  const size_t window_;
  const int64_t memory_budget_;
  std::mutex mutex_;
  std::condition_variable work_ready_;  // workers wait here for steps
  std::condition_variable step_done_;   // the caller waits here for workers
  std::deque<std::unique_ptr<Task>> tasks_;        // in flight, in the order added
  std::deque<Task*> work_;  // tasks whose next step is ready to run on a worker
  int64_t memory_in_flight_ = 0;
  int64_t peak_memory_ = 0;
  bool stopping_ = false;
  bool caller_waiting_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace velmarch
