#include "convert/conversion_job.h"

#include <chrono>
#include <new>

#include "platform/platform.h"
#include "textlog/text_log_reader.h"

namespace velmarch {

FileTask::FileTask(StrView input, StrView output, bool through_link)
    : input_path(input), output_path(output), reached_through_link(through_link) {}

FileTask::~FileTask() = default;

std::unique_ptr<ConversionJob> job_create(FolderRoot* input_root, FolderRoot* output_root,
                                          bool create_folders, const ConversionFlags* flags,
                                          TraceSink* sink) {
  if (input_root == nullptr || output_root == nullptr || flags == nullptr || sink == nullptr) {
    return nullptr;
  }
  std::unique_ptr<ConversionJob> job(new (std::nothrow) ConversionJob());
  if (!job) return nullptr;
  job->input_root = input_root;
  job->output_root = output_root;
  job->create_folders = create_folders;
  job->flags = flags;
  job->sink = sink;
  // Runs that write into one folder at the same time pick different hidden names.
  auto now = std::chrono::system_clock::now().time_since_epoch().count();
  job->name_seed =
      static_cast<uint64_t>(now) ^ (static_cast<uint64_t>(platform_process_id()) << 40);
  return job;
}

}  // namespace velmarch
