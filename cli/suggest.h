// velnor --suggest and --auto: the noise of the first frames decides the filter
// settings, plane by plane: the luma's, and with --chroma Cb's and Cr's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/byte_stream.h"
#include "cli/filter_stream.h"
#include "cli/options.h"
#include "cli/y4m_format.h"
#include "core/noise_estimate.h"

namespace velnor::cli {

// What could not be allocated, for report_out_of_memory; `what` null: nothing.
struct MemoryShortage {
    const char* what = nullptr;
    int64_t frame = -1;
    std::size_t bytes = 0;
};

struct NoiseSample {
    NoiseEstimate estimate;  // of the luma
    // Of Cb and Cr, when they were asked for and the stream has them.
    bool chroma_measured = false;
    NoiseEstimate chroma[2];
    StreamInfo info;
    uint64_t frames = 0;      // complete frames looked at
    std::string error;        // the reader's message when the input stopped early
    MemoryShortage shortage;  // memory ran out (the measurement stopped there)
};

// Reads the stream header and the first frames of `source` (as many as
// frames_to_measure allows) and estimates the noise of their luma, and with `chroma`
// of each chroma plane on its own; stops early on a stop request. `copy_shortage`
// names what reading a frame allocates, for the message when that runs out.
NoiseSample sample_noise(ByteSource& source, const Y4mLimits& limits, bool chroma = false,
                         const char* copy_shortage = "while reading the frame");

// --suggest: prints the settings for the input's noise as one line of options on
// `out` and the estimate of each plane on `messages`; returns the exit status.
// With `chroma` the line ends in --chroma --cb S,T1,T2 --cr S,T1,T2, each chroma
// plane's settings for its own estimate. Bad input gets the messages filtering
// gives it. Interrupted, it prints nothing on `out`.
int print_suggestion(ByteSource& input, const Y4mLimits& limits, bool chroma, std::FILE* out,
                     std::FILE* messages);

// --auto: filter_stream with the suggested settings in place of the values the
// command line did not name (options.h: which values win), each plane with its own. The sampled
// frames are filtered too (replayed from a copy released as it is replayed). Interrupted while
// measuring, it writes nothing.
int filter_with_suggestion(Options options, const StreamIo& io);

}  // namespace velnor::cli
