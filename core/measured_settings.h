// Settings from measured noise, shared by every front end: how many frames are
// measured, which frames of a clip, and which settings an estimate gives.
#pragma once

#include <cstdint>
#include <vector>

#include "core/noise_estimate.h"
#include "core/suggested_settings.h"

namespace velnor {

// A measurement reads at most this many frames, and no frame that would take the
// luma samples it has read past this many (four 1080p frames); it always reads at
// least one frame.
inline constexpr uint64_t kNoiseSampleFrames = 8;
inline constexpr uint64_t kNoiseSampleLuma = uint64_t{1} << 23;

// How many frames of `frame_luma` luma samples a measurement reads (of a clip of
// at least that many frames).
uint64_t frames_to_measure(uint64_t frame_luma);

// The frames a plug-in measures in a clip of `clip_frames` frames (none for an
// empty clip): frames_to_measure of them, or every frame of a shorter clip, each
// in the middle of one of as many equal stretches of the clip, ascending. Intros
// and end titles count for little, and the same clip always gives the same list.
std::vector<int64_t> spread_frames(int64_t clip_frames, uint64_t frame_luma);

// Why the settings are what they are.
enum class SettingsBasis {
    measured,     // looked up in the table by the estimate
    no_noise,     // the estimate lies below the table: strength 0 leaves the picture
    no_estimate,  // no usable block (frames too small or saturated): the lightest node
};

struct MeasuredSettings {
    FilterValues values;
    SettingsBasis basis;
};

// The settings for an estimate of one plane, the same in every front end.
MeasuredSettings settings_for_estimate(const NoiseEstimate& estimate, PlaneKind plane);

// What a basis other than `measured` means, for messages: "no noise measurable"
// and "no noise estimate (frames too small or saturated)".
const char* basis_reason(SettingsBasis basis);

}  // namespace velnor
