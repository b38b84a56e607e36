#pragma once

#include "convert/conversion_job.h"

namespace velmarch {

// One file's output, the same for every format. It is made exclusively under a hidden name
// beside its final one, with the input's permissions, and written by the format. Once closed
// and whole it takes its name at once, unless another file in flight wants that name or -d
// is set: then in turn, where -d's outputs are staged for the commit instead, never over
// anything at their names. An output that is not whole is removed; the final name of a file
// that failed ends as writing in place would have left it.

/// Makes the output and starts the format on it; false (said) when either fails.
bool output_open(ConversionJob& job, FileTask& task);
/// After the last frame, on the converting thread: has the format end, closes the output, and
/// names or removes it; input_whole: the frames the format got are all of the input's. False
/// when the output did not end cleanly.
bool output_end(FileTask& task, bool input_whole);
/// In walk order, on the job's thread: gives a whole output its name or stages it for -d;
/// for a failed one leaves its name as writing in place would have. When the run stops, an
/// output not yet named goes and nothing else is touched. True when that went well.
bool output_publish(ConversionJob& job, FileTask& task, bool run_stops);

}  // namespace velmarch
