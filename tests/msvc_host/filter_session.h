// Helpers shared by the groups of checks: calling the script function the way the
// host's script engine does, and judging a frame the filter delivered.
#pragma once

#include "tests/msvc_host/avs_interface.h"
#include "tests/msvc_host/case_file.h"
#include "tests/msvc_host/host_environment.h"

struct CreateOutcome {
    bool threw = false;
    const char* error = nullptr;  // the message ThrowError was called with
    short result_type = 0;        // AVSValue type code of the returned value
    long filter_refs_in_result = -1;
    long source_refs_with_result = -1;
    PClip filter;
};

// Calls the registered create callback with an array of four values: `source`, then
// for each of strength, threshold1, threshold2 an integer when present[i] is set
// and an undefined value otherwise.
CreateOutcome call_create(HostEnvironment& env, IClip* source, const int32_t present[3],
                          const int32_t values[3]);

// Checks a frame the filter returned for frame n of `test`: reference counts, layout,
// sequence number, and every byte of its buffer (filtered luma equal to the native
// result, padding, chroma and guard bytes unchanged). Describes the first problem
// in `why` and returns false if there is one.
bool verify_frame(const TestCase& test, int n, const PVideoFrame& frame, char* why, int why_size);
