// The NEON vector layer (AArch64, where NEON is always present): sixteen int16
// lanes as two 128-bit halves, as on SSE, with the float forms in four quarters.
// Element-wise arithmetic goes through GCC's vector extensions; what has no
// operator (saturating narrowing, table look-up, widening multiplies, horizontal
// reductions) through the NEON intrinsics.
#pragma once

#include <arm_neon.h>

#include "core/simd/vector_common.h"
#include "core/simd/vector_pieces.h"

namespace velnor {
namespace {
// A half is one NEON register.
constexpr int kHalfLanes = 8;
typedef int16x8_t HalfRegister;
}  // namespace
}  // namespace velnor

#include "core/simd/transpose_words_8x8.h"
#include "core/simd/vector_two_halves.h"

namespace velnor {
namespace {

VELNOR_INLINE uint16x8_t raw_unsigned(Half h) { return reinterpret_cast<uint16x8_t>(h); }
VELNOR_INLINE Half half(uint16x8_t v) { return reinterpret_cast<Half>(v); }

// kLanes bytes widened to the lanes, and back (lanes hold 0..255; saturated).
VELNOR_INLINE Vec load_bytes(const uint8_t* p) {
    const uint8x16_t bytes = vld1q_u8(p);
    return Vec{{half(vmovl_u8(vget_low_u8(bytes))), half(vmovl_high_u8(bytes))}};
}
VELNOR_INLINE uint8x16_t narrow_to_bytes(Vec v) {
    return vqmovun_high_s16(vqmovun_s16(raw(v.h[0])), raw(v.h[1]));
}
VELNOR_INLINE void store_bytes(uint8_t* p, Vec v) { vst1q_u8(p, narrow_to_bytes(v)); }

// Bit i set where lane i of a comparison result is set.
VELNOR_INLINE uint32_t lane_bits(Vec mask) {
    const Half low_bits{1, 2, 4, 8, 16, 32, 64, 128};
    const Half high_bits{256, 512, 1024, 2048, 4096, 8192, 16384, -32768};
    const Half bits = (mask.h[0] & low_bits) | (mask.h[1] & high_bits);
    return vaddvq_u16(raw_unsigned(bits));
}
VELNOR_INLINE bool any(Vec mask) { return vmaxvq_u16(raw_unsigned(mask.h[0] | mask.h[1])) != 0; }

// Lane i takes lane i - n (n = 1, 2); the lowest lanes are left unspecified.
template <int kShift>
VELNOR_INLINE Vec lanes_down(Vec v) {
    const int16x8_t low = raw(v.h[0]), high = raw(v.h[1]);
    return Vec{{half(vextq_s16(low, low, 8 - kShift)), half(vextq_s16(low, high, 8 - kShift))}};
}
VELNOR_INLINE Vec lanes_down1(Vec v) { return lanes_down<1>(v); }
VELNOR_INLINE Vec lanes_down2(Vec v) { return lanes_down<2>(v); }

VELNOR_INLINE Vec select(Vec mask, Vec yes, Vec no) {
    return Vec{{half(vbslq_s16(raw_unsigned(mask.h[0]), raw(yes.h[0]), raw(no.h[0]))),
                half(vbslq_s16(raw_unsigned(mask.h[1]), raw(yes.h[1]), raw(no.h[1])))}};
}
VELNOR_INLINE Floats select(Wide mask, Floats yes, Floats no) {
    Floats out;
    for (int i = 0; i < 4; ++i)
        out.q[i] = reinterpret_cast<FloatQuarter>(vbslq_f32(
            reinterpret_cast<uint32x4_t>(mask.q[i]), reinterpret_cast<float32x4_t>(yes.q[i]),
            reinterpret_cast<float32x4_t>(no.q[i])));
    return out;
}
VELNOR_INLINE Vec max(Vec a, Vec b) {
    return Vec{
        {half(vmaxq_s16(raw(a.h[0]), raw(b.h[0]))), half(vmaxq_s16(raw(a.h[1]), raw(b.h[1])))}};
}
VELNOR_INLINE Vec min(Vec a, Vec b) {
    return Vec{
        {half(vminq_s16(raw(a.h[0]), raw(b.h[0]))), half(vminq_s16(raw(a.h[1]), raw(b.h[1])))}};
}
// |v|, wrapping at -32768 as max(v, -v) does.
VELNOR_INLINE Vec magnitude(Vec v) {
    return Vec{{half(vabsq_s16(raw(v.h[0]))), half(vabsq_s16(raw(v.h[1])))}};
}
// v limited to 0..255.
VELNOR_INLINE Vec clamp_sample(Vec v) { return max(min(v, splat(255)), splat(0)); }

// For each lane: entry x of a 16-byte table for x in 0..15, else 0 (negative x
// included, as the shaping step's second table needs). The lanes read as unsigned
// and narrowed to bytes with saturation are the indices, and the table look-up
// yields 0 for indices of 16 and more. The offset names the entries as the x86
// layers' does: its low byte 0x70 - 16 n reads entry x - 16 n, and 0 here for x
// below 16 n (the index wraps above 15), where the x86 layers read some entry no
// larger than the first table's.
constexpr bool kHasByteShuffle = true;
constexpr bool kHasWordTable = false;
typedef uint8x16_t ByteTable;
VELNOR_INLINE ByteTable load_byte_table(const uint8_t* p) { return vld1q_u8(p); }
VELNOR_INLINE Vec look_up(Vec x, ByteTable table, int16_t offsets = -32656) {
    const int skipped = (0x70 - (offsets & 0xFF)) & 0xF0;
    const uint8x16_t index =
        vsubq_u8(vqmovn_high_u16(vqmovn_u16(raw_unsigned(x.h[0])), raw_unsigned(x.h[1])),
                 vdupq_n_u8(static_cast<uint8_t>(skipped)));
    const uint8x16_t entries = vqtbl1q_u8(table, index);
    return Vec{{half(vmovl_u8(vget_low_u8(entries))), half(vmovl_high_u8(entries))}};
}
// g negated where d is negative (for g that is 0 where d is 0).
VELNOR_INLINE Vec with_sign_of(Vec g, Vec d) {
    const Vec negative = d >> 15;
    return Vec{
        {(g.h[0] ^ negative.h[0]) - negative.h[0], (g.h[1] ^ negative.h[1]) - negative.h[1]}};
}

// Lanes as unsigned 16-bit values (wrapping): low half of the product, high half
// of the product, sum, difference, shift right by a count (a ShiftCount).
VELNOR_INLINE Half high_product(Half a, Half b) {
    const uint16x8_t x = raw_unsigned(a), y = raw_unsigned(b);
    const uint32x4_t low = vmull_u16(vget_low_u16(x), vget_low_u16(y));
    const uint32x4_t high = vmull_high_u16(x, y);
    return half(vuzp2q_u16(vreinterpretq_u16_u32(low), vreinterpretq_u16_u32(high)));
}
VELNOR_INLINE Vec unsigned_multiply_low(Vec a, Vec b) {
    return Vec{{half(vmulq_u16(raw_unsigned(a.h[0]), raw_unsigned(b.h[0]))),
                half(vmulq_u16(raw_unsigned(a.h[1]), raw_unsigned(b.h[1])))}};
}
VELNOR_INLINE Vec unsigned_multiply_high(Vec a, Vec b) {
    return Vec{{high_product(a.h[0], b.h[0]), high_product(a.h[1], b.h[1])}};
}
VELNOR_INLINE Vec unsigned_add(Vec a, Vec b) {
    return Vec{{half(vaddq_u16(raw_unsigned(a.h[0]), raw_unsigned(b.h[0]))),
                half(vaddq_u16(raw_unsigned(a.h[1]), raw_unsigned(b.h[1])))}};
}
VELNOR_INLINE Vec unsigned_subtract(Vec a, Vec b) {
    return Vec{{half(vsubq_u16(raw_unsigned(a.h[0]), raw_unsigned(b.h[0]))),
                half(vsubq_u16(raw_unsigned(a.h[1]), raw_unsigned(b.h[1])))}};
}
// NEON shifts by a signed per-lane count, right for negative counts.
typedef int16x8_t ShiftCount;
VELNOR_INLINE ShiftCount shift_count(int n) { return vdupq_n_s16(static_cast<int16_t>(-n)); }
VELNOR_INLINE Vec unsigned_shift_right(Vec a, ShiftCount count) {
    return Vec{{half(vshlq_u16(raw_unsigned(a.h[0]), count)),
                half(vshlq_u16(raw_unsigned(a.h[1]), count))}};
}
VELNOR_INLINE Vec unsigned_shift_right(Vec a, int count) {
    return unsigned_shift_right(a, shift_count(count));
}
// Shift left by a ShiftCount (which holds the count negated).
VELNOR_INLINE Vec shift_left(Vec a, ShiftCount count) {
    const int16x8_t left = vnegq_s16(count);
    return Vec{
        {half(vshlq_u16(raw_unsigned(a.h[0]), left)), half(vshlq_u16(raw_unsigned(a.h[1]), left))}};
}
// a - b for unsigned 16-bit lanes, 0 where b is larger.
VELNOR_INLINE Vec saturating_subtract(Vec a, Vec b) {
    return Vec{{half(vqsubq_u16(raw_unsigned(a.h[0]), raw_unsigned(b.h[0]))),
                half(vqsubq_u16(raw_unsigned(a.h[1]), raw_unsigned(b.h[1])))}};
}

// One half alone, eight lanes in one register: the operations the detectors need
// (pass_arith_vector.h's detectors_by_halves), so that the wavefront's sweep runs
// them half after half; the neighbourhood of both halves (17 vectors of two
// registers) does not fit the 32 registers, that of one half does. Arguments of
// type Vec are the constants, the same in both halves: their low half serves.
#define VELNOR_DETECTORS_BY_HALVES 1
VELNOR_INLINE Half select(Half mask, Half yes, Half no) {
    return half(vbslq_s16(raw_unsigned(mask), raw(yes), raw(no)));
}
VELNOR_INLINE bool any(Half mask) { return vmaxvq_u16(raw_unsigned(mask)) != 0; }
VELNOR_INLINE Half max(Half a, Half b) { return half(vmaxq_s16(raw(a), raw(b))); }
VELNOR_INLINE Half min(Half a, Half b) { return half(vminq_s16(raw(a), raw(b))); }
VELNOR_INLINE Half min(Half a, Vec b) { return min(a, b.h[0]); }
VELNOR_INLINE Half magnitude(Half v) { return half(vabsq_s16(raw(v))); }
VELNOR_INLINE Half clamp_sample(Half v) {
    return max(min(v, Half{} + static_cast<int16_t>(255)), Half{});
}
VELNOR_INLINE Half look_up(Half x, ByteTable table, int16_t offsets = -32656) {
    const int skipped = (0x70 - (offsets & 0xFF)) & 0xF0;
    const uint8x8_t index =
        vsub_u8(vqmovn_u16(raw_unsigned(x)), vdup_n_u8(static_cast<uint8_t>(skipped)));
    return half(vmovl_u8(vqtbl1_u8(table, index)));
}
VELNOR_INLINE Half with_sign_of(Half g, Half d) {
    const Half negative = d >> 15;
    return (g ^ negative) - negative;
}
VELNOR_INLINE Half unsigned_multiply_low(Half a, Half b) {
    return half(vmulq_u16(raw_unsigned(a), raw_unsigned(b)));
}
VELNOR_INLINE Half unsigned_multiply_high(Half a, Half b) { return high_product(a, b); }
VELNOR_INLINE Half unsigned_multiply_high(Half a, Vec b) { return high_product(a, b.h[0]); }
VELNOR_INLINE Half unsigned_add(Half a, Half b) {
    return half(vaddq_u16(raw_unsigned(a), raw_unsigned(b)));
}
VELNOR_INLINE Half unsigned_subtract(Half a, Half b) {
    return half(vsubq_u16(raw_unsigned(a), raw_unsigned(b)));
}
VELNOR_INLINE Half saturating_subtract(Half a, Vec b) {
    return half(vqsubq_u16(raw_unsigned(a), raw_unsigned(b.h[0])));
}
VELNOR_INLINE Half unsigned_shift_right(Half a, ShiftCount count) {
    return half(vshlq_u16(raw_unsigned(a), count));
}
VELNOR_INLINE Half unsigned_shift_right(Half a, int count) {
    return unsigned_shift_right(a, shift_count(count));
}
VELNOR_INLINE Half shift_left(Half a, ShiftCount count) {
    return half(vshlq_u16(raw_unsigned(a), vnegq_s16(count)));
}
// For the row-wise form's groups of a half's columns: eight bytes widened to a
// half and back (values 0..255), bit i set where lane i is, lane i taking lane
// i - n.
VELNOR_INLINE Half load_half_bytes(const uint8_t* p) { return half(vmovl_u8(vld1_u8(p))); }
VELNOR_INLINE void store_half_bytes(uint8_t* p, Half v) { vst1_u8(p, vqmovun_s16(raw(v))); }
VELNOR_INLINE uint32_t lane_bits(Half mask) {
    return vaddvq_u16(raw_unsigned(mask & kLaneBits<0>));
}
template <int kShift>
VELNOR_INLINE Half lanes_down(Half v) {
    return half(vextq_s16(raw(v), raw(v), 8 - kShift));
}
VELNOR_INLINE Half lanes_down1(Half v) { return lanes_down<1>(v); }
VELNOR_INLINE Half lanes_down2(Half v) { return lanes_down<2>(v); }

// 8 x 8 lanes of 16 bits: out[j][i] = in[i][j], each row eight consecutive
// elements, by zips as the x86 layers' unpacks.
VELNOR_INLINE void transpose8_words(const void* const in[8], void* const out[8]) {
    uint16x8_t r[8];
    uint32x4_t a[8], b[8];
    for (int i = 0; i < 8; ++i) r[i] = vld1q_u16(static_cast<const uint16_t*>(in[i]));
    for (int i = 0; i < 8; i += 2) {  // row pairs, column pairs interleaved
        a[i] = vreinterpretq_u32_u16(vzip1q_u16(r[i], r[i + 1]));
        a[i + 1] = vreinterpretq_u32_u16(vzip2q_u16(r[i], r[i + 1]));
    }
    for (int i = 0; i < 8; i += 4) {  // row quads: columns 0-1, 2-3, 4-5, 6-7
        b[i] = vzip1q_u32(a[i], a[i + 2]);
        b[i + 1] = vzip2q_u32(a[i], a[i + 2]);
        b[i + 2] = vzip1q_u32(a[i + 1], a[i + 3]);
        b[i + 3] = vzip2q_u32(a[i + 1], a[i + 3]);
    }
    for (int j = 0; j < 4; ++j) {
        const uint64x2_t low = vreinterpretq_u64_u32(b[j]), high = vreinterpretq_u64_u32(b[j + 4]);
        vst1q_u16(static_cast<uint16_t*>(out[2 * j]), vreinterpretq_u16_u64(vzip1q_u64(low, high)));
        vst1q_u16(static_cast<uint16_t*>(out[2 * j + 1]),
                  vreinterpretq_u16_u64(vzip2q_u64(low, high)));
    }
}

// Byte blocks for the wavefront's transposes: one block of 16 bytes in a
// register, interleaved by zips (the x86 unpacks' counterpart).
typedef uint8x16_t Bytes;
constexpr int kByteBlocks = 1;
VELNOR_INLINE Bytes load_block_bytes(const uint8_t* p) { return vld1q_u8(p); }
VELNOR_INLINE void store_block_bytes(uint8_t* p, Bytes v) { vst1q_u8(p, v); }
template <int kBits>
VELNOR_INLINE Bytes unpack_low(Bytes a, Bytes b) {
    if constexpr (kBits == 8) return vzip1q_u8(a, b);
    if constexpr (kBits == 16)
        return vreinterpretq_u8_u16(vzip1q_u16(vreinterpretq_u16_u8(a), vreinterpretq_u16_u8(b)));
    if constexpr (kBits == 32)
        return vreinterpretq_u8_u32(vzip1q_u32(vreinterpretq_u32_u8(a), vreinterpretq_u32_u8(b)));
    if constexpr (kBits == 64)
        return vreinterpretq_u8_u64(vzip1q_u64(vreinterpretq_u64_u8(a), vreinterpretq_u64_u8(b)));
}
template <int kBits>
VELNOR_INLINE Bytes unpack_high(Bytes a, Bytes b) {
    if constexpr (kBits == 8) return vzip2q_u8(a, b);
    if constexpr (kBits == 16)
        return vreinterpretq_u8_u16(vzip2q_u16(vreinterpretq_u16_u8(a), vreinterpretq_u16_u8(b)));
    if constexpr (kBits == 32)
        return vreinterpretq_u8_u32(vzip2q_u32(vreinterpretq_u32_u8(a), vreinterpretq_u32_u8(b)));
    if constexpr (kBits == 64)
        return vreinterpretq_u8_u64(vzip2q_u64(vreinterpretq_u64_u8(a), vreinterpretq_u64_u8(b)));
}
// Block k of v widened to sixteen int16 at to[k], and back (values 0..255).
VELNOR_INLINE void widen_blocks(Bytes v, int16_t* const to[kByteBlocks]) {
    vst1q_u16(reinterpret_cast<uint16_t*>(to[0]), vmovl_u8(vget_low_u8(v)));
    vst1q_u16(reinterpret_cast<uint16_t*>(to[0] + 8), vmovl_high_u8(v));
}
VELNOR_INLINE Bytes narrow_blocks(const int16_t* const from[kByteBlocks]) {
    return vqmovun_high_s16(vqmovun_s16(vld1q_s16(from[0])), vld1q_s16(from[0] + 8));
}

VELNOR_INLINE Floats to_floats(Vec v) {
    Floats f;
    for (int i = 0; i < 2; ++i) {
        const int16x8_t h = raw(v.h[i]);
        f.q[2 * i] = reinterpret_cast<FloatQuarter>(vcvtq_f32_s32(vmovl_s16(vget_low_s16(h))));
        f.q[2 * i + 1] = reinterpret_cast<FloatQuarter>(vcvtq_f32_s32(vmovl_high_s16(h)));
    }
    return f;
}
// Truncation toward zero, saturated to int16; callers keep the values inside the
// int16 range where the result matters.
VELNOR_INLINE Vec to_vec(Floats f) {
    Vec v;
    for (int i = 0; i < 2; ++i) {
        const int32x4_t low = vcvtq_s32_f32(reinterpret_cast<float32x4_t>(f.q[2 * i]));
        const int32x4_t high = vcvtq_s32_f32(reinterpret_cast<float32x4_t>(f.q[2 * i + 1]));
        v.h[i] = half(vqmovn_high_s32(vqmovn_s32(low), high));
    }
    return v;
}

// kLanes 32-bit lanes as four 128-bit registers, for 16-bit and float samples.
using Ints = Pieces<int32_t, 16, kLanes / 4>;
using Words = Pieces<uint32_t, 16, kLanes / 4>;
using Reals = Pieces<float, 16, kLanes / 4>;
VELNOR_INLINE bool any(Ints mask) {
    Ints::Part all = mask.part[0];
    for (int i = 1; i < kLanes / 4; ++i) all |= mask.part[i];
    return vmaxvq_u32(reinterpret_cast<uint32x4_t>(all)) != 0;
}
// Bit i set where lane i of a comparison result is set.
VELNOR_INLINE uint32_t lane_bits(Ints mask) {
    Ints::Part bits = mask.part[0] & Ints::Part{1, 2, 4, 8};
    for (int i = 1; i < kLanes / 4; ++i) bits |= mask.part[i] & (Ints::Part{1, 2, 4, 8} << (4 * i));
    return vaddvq_u32(reinterpret_cast<uint32x4_t>(bits));
}
// The wavefront's transposes of 32-bit lanes: 4 x 4, out[j][i] = in[i][j], each
// row four consecutive elements.
constexpr int kWideTranspose = 4;
VELNOR_INLINE void transpose_wide(const void* const in[4], void* const out[4]) {
    uint32x4_t r[4];
    for (int i = 0; i < 4; ++i) r[i] = vld1q_u32(static_cast<const uint32_t*>(in[i]));
    const uint64x2_t t0 = vreinterpretq_u64_u32(vzip1q_u32(r[0], r[1]));
    const uint64x2_t t1 = vreinterpretq_u64_u32(vzip1q_u32(r[2], r[3]));
    const uint64x2_t t2 = vreinterpretq_u64_u32(vzip2q_u32(r[0], r[1]));
    const uint64x2_t t3 = vreinterpretq_u64_u32(vzip2q_u32(r[2], r[3]));
    vst1q_u64(static_cast<uint64_t*>(out[0]), vzip1q_u64(t0, t1));
    vst1q_u64(static_cast<uint64_t*>(out[1]), vzip2q_u64(t0, t1));
    vst1q_u64(static_cast<uint64_t*>(out[2]), vzip1q_u64(t2, t3));
    vst1q_u64(static_cast<uint64_t*>(out[3]), vzip2q_u64(t2, t3));
}

// The high 32 bits of each lane's 64-bit product.
VELNOR_INLINE Words multiply_high(Words a, Words b) {
    Words r;
    for (int i = 0; i < kLanes / 4; ++i) {
        const uint32x4_t x = reinterpret_cast<uint32x4_t>(a.part[i]);
        const uint32x4_t y = reinterpret_cast<uint32x4_t>(b.part[i]);
        const uint64x2_t low = vmull_u32(vget_low_u32(x), vget_low_u32(y));
        const uint64x2_t high = vmull_high_u32(x, y);
        r.part[i] = reinterpret_cast<Words::Part>(
            vuzp2q_u32(vreinterpretq_u32_u64(low), vreinterpretq_u32_u64(high)));
    }
    return r;
}

}  // namespace
}  // namespace velnor
