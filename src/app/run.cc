#include "base/exit_status.h"
#include "app/tool_settings.h"
#include "convert/conversion_job.h"
#include "platform/platform.h"
#include "trc/trc_writer.h"

namespace velmarch {

int tool_main(int argc, char** argv) {
  int status = EXIT_OK;
  std::unique_ptr<ToolSettings> settings = tool_settings_create();
  if (!settings) return EXIT_INTERNAL;
  if (!tool_settings_parse(*settings, argc, argv, &status)) {
    tool_settings_release(settings);
    return status;
  }
  std::unique_ptr<TrcWriter> writer =
      trc_writer_create(settings->output_root, tool_settings_trace_version(settings.get()));
  if (!writer) {
    tool_settings_release(settings);
    return EXIT_INTERNAL;
  }
  std::unique_ptr<ConversionJob> job = job_create(settings->input_root.get(),
                                                  settings->output_root, true,
                                                  &settings->flags, writer.get());
  if (!job) {
    trc_writer_release(writer);
    tool_settings_release(settings);
    return EXIT_INTERNAL;
  }
  platform_catch_interrupts();
  status = job_run(*job, settings->input_set.inputs);
  bool interrupted = job->interrupted;
  // The job only borrows the roots, the flags and the writer: this order is safe.
  tool_settings_release(settings);
  trc_writer_release(writer);
  job_release(job);
  // The shell, and whatever script started us, must see the signal, not a status.
  if (interrupted) platform_die_of_interruption(platform_interruption());
  return status;
}

}  // namespace velmarch
