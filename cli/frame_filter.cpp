#include "cli/frame_filter.h"

#include <algorithm>

namespace velnor::cli {

namespace {
thread_local std::size_t smallest_request = 0;
void* refuse(std::size_t bytes) {
    smallest_request = std::min(smallest_request, bytes);
    return nullptr;
}
void release_nothing(void*) {}
}  // namespace

FrameFilter::FrameFilter(const StreamInfo& info, const std::vector<FilterValues>& planes) {
    const SampleFormat format = SampleFormat::integer(info.layout.bits);
    const auto add = [&](Plane plane, const FilterValues& v) {
        const PlaneSize size = info.plane_size(plane);
        const FilterSettings settings(size.width, size.height, v.strength, v.threshold1,
                                      v.threshold2);
        const auto same = [&](const Denoiser& denoiser) {
            const FilterSettings& s = denoiser.settings();
            return s.width == settings.width && s.height == settings.height &&
                   s.strength == settings.strength && s.threshold1 == settings.threshold1 &&
                   s.threshold2 == settings.threshold2;
        };
        std::size_t index = 0;
        while (index < denoisers_.size() && !same(denoisers_[index])) ++index;
        if (index == denoisers_.size()) denoisers_.emplace_back(settings, format);
        planes_.push_back(
            {info.plane_offset(plane), static_cast<std::ptrdiff_t>(info.row_bytes(plane)), index});
    };
    add(Plane::luma, planes.at(0));
    if (planes.size() >= 3 && info.layout.has_chroma) {
        add(Plane::cb, planes[1]);
        add(Plane::cr, planes[2]);
    }
}

PassStatus FrameFilter::filter(Frame& frame, const ScratchAllocator& scratch) const {
    for (const PlaneJob& plane : planes_) {
        const PassStatus status = denoisers_[plane.denoiser].filter(
            frame.data.data() + plane.offset, plane.pitch, scratch);
        if (status != PassStatus::ok) return status;
    }
    return PassStatus::ok;
}

std::size_t FrameFilter::least_scratch_bytes() const {
    const ScratchAllocator refusing{refuse, release_nothing};
    std::size_t need = 0;
    for (const Denoiser& denoiser : denoisers_) {
        const FilterSettings& settings = denoiser.settings();
        // Five rows: the fewest a pass filters (two border rows on each side).
        const int32_t rows = std::min(settings.height, 5);
        const Denoiser probe(FilterSettings(settings.width, rows, settings.strength,
                                            settings.threshold1, settings.threshold2),
                             denoiser.format(), denoiser.level());
        const auto pitch = static_cast<std::ptrdiff_t>(settings.width) * denoiser.format().bytes();
        std::vector<uint8_t> plane(static_cast<std::size_t>(pitch) *
                                   static_cast<std::size_t>(rows));
        smallest_request = SIZE_MAX;
        probe.filter(plane.data(), pitch, refusing);
        if (smallest_request != SIZE_MAX) need = std::max(need, smallest_request);
    }
    return need;
}

}  // namespace velnor::cli
