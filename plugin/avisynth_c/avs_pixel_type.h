// The AviSynth+ pixel types Velnor filters, decoded from the pixel-type bits
// themselves (no host function needed): plane shape and sample size.
#pragma once

#include "core/sample_format.h"

namespace velnor::avsc {

struct PlanarFormat {
    SampleFormat sample;
    bool chroma = false;  // U and V planes besides Y (an alpha plane is never filtered)
    int shift_w = 0;      // log2 of the chroma subsampling
    int shift_h = 0;
};

// Planar YUV 4:2:0, 4:2:2 and 4:4:4 with or without alpha and greyscale at 8, 10,
// 12, 14 and 16 bits and 32-bit float, and 8-bit 4:1:1: true with `*format` set.
// False for every other pixel type (RGB, packed YUV, 4:1:0, unknown sample sizes).
bool decode_pixel_type(int pixel_type, PlanarFormat* format);

}  // namespace velnor::avsc
