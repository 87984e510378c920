#include "plugin/avisynth_c/avs_pixel_type.h"

#include "plugin/avisynth_c/avs_c_interface.h"

namespace velnor::avsc {

namespace {

struct Shape {
    int bits;  // the pixel type's shape bits, plane order ignored
    bool chroma;
    int shift_w, shift_h;
    bool deeper;  // exists above 8 bits
};

constexpr Shape kShapes[] = {
    {AVS_CS_GENERIC_YUV420, true, 1, 1, true},  {AVS_CS_GENERIC_YUV422, true, 1, 0, true},
    {AVS_CS_GENERIC_YUV444, true, 0, 0, true},  {AVS_CS_GENERIC_YUVA420, true, 1, 1, true},
    {AVS_CS_GENERIC_YUVA422, true, 1, 0, true}, {AVS_CS_GENERIC_YUVA444, true, 0, 0, true},
    {AVS_CS_GENERIC_Y, false, 0, 0, true},      {AVS_CS_YV411, true, 2, 0, false},
};

// The sample size field: 8, 10, 12, 14, 16 bits or float; false for the values
// no pixel type uses.
bool decode_sample(int pixel_type, SampleFormat* sample) {
    switch (pixel_type & AVS_CS_SAMPLE_BITS_MASK) {
        case AVS_CS_SAMPLE_BITS_8:
            *sample = SampleFormat::integer(8);
            return true;
        case AVS_CS_SAMPLE_BITS_10:
            *sample = SampleFormat::integer(10);
            return true;
        case AVS_CS_SAMPLE_BITS_12:
            *sample = SampleFormat::integer(12);
            return true;
        case AVS_CS_SAMPLE_BITS_14:
            *sample = SampleFormat::integer(14);
            return true;
        case AVS_CS_SAMPLE_BITS_16:
            *sample = SampleFormat::integer(16);
            return true;
        case AVS_CS_SAMPLE_BITS_32:
            *sample = SampleFormat::floating();
            return true;
    }
    return false;
}

}  // namespace

bool decode_pixel_type(int pixel_type, PlanarFormat* format) {
    SampleFormat sample;
    if (!decode_sample(pixel_type, &sample)) return false;
    // Compared as the host compares planar formats: the bits that identify one, less
    // the plane order that tells I420 from YV12.
    const int shape =
        pixel_type & AVS_CS_PLANAR_MASK & AVS_CS_PLANAR_FILTER & ~AVS_CS_SAMPLE_BITS_MASK;
    for (const Shape& s : kShapes) {
        if (shape != (s.bits & AVS_CS_PLANAR_FILTER & ~AVS_CS_SAMPLE_BITS_MASK)) continue;
        if (!s.deeper && sample.bits != 8) return false;
        *format = PlanarFormat{sample, s.chroma, s.shift_w, s.shift_h};
        return true;
    }
    return false;
}

}  // namespace velnor::avsc
