#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/conversion_job.h"
#include "testing/masked_log.h"

namespace velmarch {

/// Runs the job over the inputs as the command line would give them; the lines it wrote to
/// standard error go to log, each reduced to its level letter and message.
inline int job_run_logged(ConversionJob& job, const std::vector<std::string>& inputs,
                          std::vector<std::string>& log) {
  StringList list;
  for (const auto& input : inputs) list.emplace_back(StrView(input));
  testing::internal::CaptureStderr();
  int status = job_run(job, list).value();
  log = masked_log(testing::internal::GetCapturedStderr());
  return status;
}

}  // namespace velmarch
