#include <chrono>

#include "app/progress_display.h"
#include "app/report_output.h"
#include "app/tool_settings.h"
#include "base/exit_status.h"
#include "convert/conversion_job.h"
#include "diag/log.h"
#include "platform/platform.h"
#include "stream/file_stream.h"
#include "app/trace_format_option.h"

namespace velmarch {

namespace {

int out_of_memory() {
  DIAG(LOG_FATAL, "Out of memory");
  return EXIT_INTERNAL.value();
}

}  // namespace

int tool_main(int argc, char** argv) {
  // Declared so that leaving the scope releases the settings (with both roots) first, then the
  // writer, then the job. The writer and the job only borrow the roots and touch nothing of
  // theirs when they go, so this order is safe.
  RunProgress progress;
  std::unique_ptr<ConversionJob> job;
  std::unique_ptr<TraceSink> writer;
  std::unique_ptr<ToolSettings> settings = tool_settings_create();
  if (!settings) return out_of_memory();
  ExitStatus status = EXIT_OK;
  if (!tool_settings_parse(*settings, argc, argv, &status)) return status.value();
  writer = trace_format_create(tool_settings_trace_version(settings.get()));
  if (!writer) return out_of_memory();
  job = job_create(settings->input_root.get(), settings->output_root, &settings->flags,
                   writer.get());
  if (!job) return out_of_memory();
  ReportOutput report;
  if (!settings->report_paths.empty()) {
    // Its reasons are the error lines' words, whatever the verbosity.
    log_keep_errors();
    if (!report.open(settings->report_paths.front().view(), job->next_output_seed())) {
      return EXIT_COMMAND_LINE.value();
    }
    job->report_to(report.report());
  }
  auto started = std::chrono::steady_clock::now();
  platform_catch_interrupts();
  // Scripts and pipes see only the log lines.
  std::unique_ptr<ProgressDisplay> display;
  // A pipe's size is unknown: no line could say how far it is.
  if (!settings->flags.non_interactive && !settings->standard_streams &&
      platform_stderr_is_terminal()) {
    progress.counts_traces = settings->flags.merge_splits;
    job->show_progress(&progress);
    display = std::make_unique<ProgressDisplay>(progress);
  }
  if (settings->standard_streams) {
    std::unique_ptr<ByteStream> input = file_stream_standard(FILE_STREAM_READ);
    std::unique_ptr<ByteStream> output = file_stream_standard(FILE_STREAM_WRITE);
    if (!input || !output) return out_of_memory();
    // A reader that goes away is told by the write that fails, not by a signal.
    platform_ignore_broken_pipe();
    status = job_convert_stream(*job, std::move(input), *output);
  } else {
    status = job_run(*job, settings->input_set.inputs);
  }
  if (display) display->finish();
  if (report.report() != nullptr) {
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    int signal = job->stopped() ? platform_interruption() : 0;
    if (!report.publish({status, signal, took.count()}) && signal == 0) {
      status |= EXIT_FILE_FAILED;
    }
  }
  // The shell, and whatever script started us, must see the signal, not a status. Nothing is
  // left to release that the end of the process would not.
  if (job->stopped()) platform_die_of_interruption(platform_interruption());
  return status.value();
}

}  // namespace velmarch
