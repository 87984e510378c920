#include "cli/frame_filter.h"

namespace velnor::cli {

FrameFilter::FrameFilter(const StreamInfo& info, int32_t strength, int32_t threshold1,
                         int32_t threshold2, bool chroma) {
    const SampleFormat format = SampleFormat::integer(info.layout.bits);
    std::vector<PlaneSize> sizes;  // of denoisers_
    const auto add = [&](Plane plane) {
        const PlaneSize size = info.plane_size(plane);
        std::size_t index = 0;
        while (index < sizes.size() &&
               (sizes[index].width != size.width || sizes[index].height != size.height))
            ++index;
        if (index == sizes.size()) {
            sizes.push_back(size);
            denoisers_.emplace_back(
                FilterSettings(size.width, size.height, strength, threshold1, threshold2), format);
        }
        planes_.push_back(
            {info.plane_offset(plane), static_cast<std::ptrdiff_t>(info.row_bytes(plane)), index});
    };
    add(Plane::luma);
    if (chroma && info.layout.has_chroma) {
        add(Plane::cb);
        add(Plane::cr);
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

}  // namespace velnor::cli
