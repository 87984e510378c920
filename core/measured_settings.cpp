#include "core/measured_settings.h"

#include <algorithm>

namespace velnor {

uint64_t frames_to_measure(uint64_t frame_luma) {
    const uint64_t fitting = frame_luma == 0 ? kNoiseSampleFrames : kNoiseSampleLuma / frame_luma;
    return std::clamp<uint64_t>(fitting, 1, kNoiseSampleFrames);
}

std::vector<int64_t> spread_frames(int64_t clip_frames, uint64_t frame_luma) {
    std::vector<int64_t> frames;
    if (clip_frames <= 0) return frames;
    const auto count = static_cast<int64_t>(
        std::min<uint64_t>(frames_to_measure(frame_luma), static_cast<uint64_t>(clip_frames)));
    // Stretch i covers [i, i + 1) x clip_frames / count; its middle frame.
    for (int64_t i = 0; i < count; ++i) frames.push_back((2 * i + 1) * clip_frames / (2 * count));
    return frames;
}

MeasuredSettings settings_for_estimate(const NoiseEstimate& estimate, PlaneKind plane) {
    if (!estimate.valid) {
        // The lightest noise at the most detail: the lightest touch the table has.
        const std::span<const SettingsNode> nodes = settings_nodes(plane);
        const auto lightest = std::find_if(nodes.begin(), nodes.end(), [&](const SettingsNode& n) {
            return n.estimate != nodes.front().estimate;
        });
        const SettingsNode& node = *(lightest - 1);
        return {{node.strength, node.threshold1, node.threshold2}, SettingsBasis::no_estimate};
    }
    if (below_measured_noise(plane, estimate.sigma))
        return {clean_input_settings(), SettingsBasis::no_noise};
    return {suggested_settings(plane, estimate.sigma, estimate.detail), SettingsBasis::measured};
}

const char* basis_reason(SettingsBasis basis) {
    switch (basis) {
        case SettingsBasis::no_noise:
            return "no noise measurable";
        case SettingsBasis::no_estimate:
            return "no noise estimate (frames too small or saturated)";
        case SettingsBasis::measured:
            break;
    }
    return "";
}

}  // namespace velnor
