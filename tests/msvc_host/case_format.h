// The file the native generator writes and the Windows host reads: test clips with
// their input frames and the luma the native core produces from them.
//
// Little-endian throughout. Header: kCaseFileMagic, kCaseFileVersion, case count
// (three int32). Each case: a CaseHeader, then for every frame the input luma plane
// (luma_pitch * height bytes, padding included), the U plane and the V plane
// (chroma_pitch * chroma_height bytes each), then the expected luma plane (same size
// as the input luma plane).
#pragma once

#include <stdint.h>

namespace velnor_case_file {

inline constexpr int32_t kCaseFileMagic = 0x434E4C56;  // "VLNC"
inline constexpr int32_t kCaseFileVersion = 1;
inline constexpr int kCaseNameBytes = 32;
inline constexpr int kArgumentCount = 3;  // strength, threshold1, threshold2

struct CaseHeader {
    char name[kCaseNameBytes];  // zero-terminated
    uint32_t pixel_type;
    int32_t width;
    int32_t height;
    int32_t luma_pitch;
    int32_t chroma_width;
    int32_t chroma_height;
    int32_t chroma_pitch;
    // The script call: an argument with present == 0 is left out (the host passes an
    // undefined value and the filter must use its default).
    int32_t argument_present[kArgumentCount];
    int32_t argument_value[kArgumentCount];
    int32_t frame_count;
};
static_assert(sizeof(CaseHeader) == 32 + 4 * 14, "CaseHeader must have no padding");

inline int64_t luma_plane_bytes(const CaseHeader& c) { return int64_t{c.luma_pitch} * c.height; }
inline int64_t chroma_plane_bytes(const CaseHeader& c) {
    return int64_t{c.chroma_pitch} * c.chroma_height;
}
// Input luma + U + V + expected luma.
inline int64_t frame_record_bytes(const CaseHeader& c) {
    return 2 * luma_plane_bytes(c) + 2 * chroma_plane_bytes(c);
}

}  // namespace velnor_case_file
