// Host constants the harness needs as a host program does and the plug-in's own
// declarations leave out; checked against the real headers with the rest.
#pragma once

namespace velnor::real_hosts {

// AviSynth+: type letter of a string value.
inline constexpr short kAvsValueString = 's';
// AviSynth+: the script environment generation the harness asks for, the classic 2.6
// one that every AviSynth+ offers.
inline constexpr int kAvsClassicInterfaceVersion = 6;
// VapourSynth: type hint of UTF-8 data in a map.
inline constexpr int kVsDataUtf8 = 1;

}  // namespace velnor::real_hosts
