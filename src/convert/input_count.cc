#include "convert/input_count.h"

#include "convert/input_walk.h"
#include "diag/log.h"

namespace velmarch {

namespace {

class InputCount final : public WalkVisitor {
 public:
  InputCount(ConversionJob& job, RunProgress& progress) : job_(job), progress_(progress) {}

  bool stop_requested() override { return job_.check_interruption(); }
  void on_file(const WalkedFile& file) override {
    progress_.files_total.fetch_add(1, std::memory_order_relaxed);
    progress_.bytes_total.fetch_add(file.status.size, std::memory_order_relaxed);
  }

 private:
  ConversionJob& job_;
  RunProgress& progress_;
};

}  // namespace

void count_inputs(ConversionJob& job, const StringList& inputs, RunProgress& progress) {
  LogCapture unsaid;  // the walk proper says it all again, in its place
  LogCaptureScope quiet(&unsaid);
  InputCount count(job, progress);
  for (const SmallString& input : inputs) {
    if (job.check_interruption()) break;
    walk_input(job.setup().input_root, input.view(), input.view(), count);
  }
}

}  // namespace velmarch
