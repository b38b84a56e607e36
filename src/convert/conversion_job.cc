#include "convert/conversion_job.h"

#include <chrono>
#include <new>

#include "diag/log.h"
#include "platform/platform.h"

namespace velmarch {

ConversionJob::ConversionJob(const JobSetup& setup) : setup_(setup) {
  if (setup_.interruption == nullptr) setup_.interruption = platform_interruption;
}

bool ConversionJob::check_interruption() {
  if (!stopped() && interruption_requested()) stop();
  return stopped();
}

uint64_t ConversionJob::next_output_seed() {
  return setup_.name_seed ^ (any_thread_.outputs_made.fetch_add(1) * 0x9E3779B97F4A7C15ULL);
}

void ConversionJob::tell_stop(StrView stopped_in) {
  if (job_thread_.stop_told) return;
  job_thread_.stop_told = true;
  if (stopped_in.empty()) {
    DIAG(LOG_FATAL, "Interrupted");
  } else {
    DIAG(LOG_FATAL, "Interrupted: %.*s not converted", STR_VIEW_ARG(stopped_in));
  }
}

std::unique_ptr<ConversionJob> job_create(FolderRoot* input_root, FolderRoot* output_root,
                                          const ConversionFlags* flags, TraceSink* sink) {
  if (input_root == nullptr || output_root == nullptr || flags == nullptr || sink == nullptr) {
    return nullptr;
  }
  JobSetup setup;
  setup.input_root = input_root;
  setup.output_root = output_root;
  setup.flags = flags;
  setup.sink = sink;
  // Runs that write into one folder at the same time pick different hidden names.
  auto now = std::chrono::system_clock::now().time_since_epoch().count();
  setup.name_seed =
      static_cast<uint64_t>(now) ^ (static_cast<uint64_t>(platform_process_id()) << 40);
  return std::unique_ptr<ConversionJob>(new (std::nothrow) ConversionJob(setup));
}

ExitStatus job_convert_file(ConversionJob& job, StrView input_path, StrView output_path,
                            bool reached_through_link) {
  FileTask task(input_path, output_path, reached_through_link);
  task.sink = job.setup().sink;
  file_open(job, task);
  file_decide(job, task);
  file_convert(job, task);
  return file_finish(job, task);
}

ExitStatus job_commit(ConversionJob& job) { return job.durable_commit().commit(job); }

void log_conversion_failed(StrView input_path) {
  DIAG(LOG_ERROR, "Error during conversion of %.*s", STR_VIEW_ARG(input_path));
}

}  // namespace velmarch
