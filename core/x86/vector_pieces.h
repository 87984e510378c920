// Vectors of 32-bit lanes (int32_t, uint32_t or float) for the passes over 16-bit
// and float samples: kLanes lanes kept as N native registers of kBytes bytes, every
// element-wise operation applied register by register through GCC's vector
// extensions. A vector layer names its types (Ints, Words, Reals) and adds what
// needs its own instructions: any(), multiply_high().
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>

#include "core/x86/vector_common.h"

namespace velnor {
namespace {

template <class E, int kBytes, int N>
struct Pieces {
    typedef E Part __attribute__((vector_size(kBytes)));
    static constexpr int kPartLanes = kBytes / static_cast<int>(sizeof(E));
    static constexpr int kLaneCount = N * kPartLanes;
    using Element = E;
    Part part[N];
};
// The comparison results of Pieces: all bits set in a lane where true.
template <int kBytes, int N>
using PiecesMask = Pieces<int32_t, kBytes, N>;

#define VELNOR_PIECES_OPERATOR(op)                                                    \
    template <class E, int B, int N>                                                  \
    VELNOR_INLINE Pieces<E, B, N> operator op(Pieces<E, B, N> a, Pieces<E, B, N> b) { \
        Pieces<E, B, N> r;                                                            \
        for (int i = 0; i < N; ++i) r.part[i] = a.part[i] op b.part[i];               \
        return r;                                                                     \
    }
VELNOR_PIECES_OPERATOR(+)
VELNOR_PIECES_OPERATOR(-)
VELNOR_PIECES_OPERATOR(*)
VELNOR_PIECES_OPERATOR(/)
VELNOR_PIECES_OPERATOR(&)
VELNOR_PIECES_OPERATOR(|)
#undef VELNOR_PIECES_OPERATOR

#define VELNOR_PIECES_COMPARISON(op)                                                   \
    template <class E, int B, int N>                                                   \
    VELNOR_INLINE PiecesMask<B, N> operator op(Pieces<E, B, N> a, Pieces<E, B, N> b) { \
        PiecesMask<B, N> r;                                                            \
        for (int i = 0; i < N; ++i) r.part[i] = a.part[i] op b.part[i];                \
        return r;                                                                      \
    }
VELNOR_PIECES_COMPARISON(<)
VELNOR_PIECES_COMPARISON(>)
VELNOR_PIECES_COMPARISON(<=)
VELNOR_PIECES_COMPARISON(>=)
VELNOR_PIECES_COMPARISON(==)
VELNOR_PIECES_COMPARISON(!=)
#undef VELNOR_PIECES_COMPARISON

template <class E, int B, int N>
VELNOR_INLINE Pieces<E, B, N> operator-(Pieces<E, B, N> a) {
    Pieces<E, B, N> r;
    for (int i = 0; i < N; ++i) r.part[i] = -a.part[i];
    return r;
}
// Shift of integer lanes (arithmetic for signed, logical for unsigned).
template <class E, int B, int N>
VELNOR_INLINE Pieces<E, B, N> operator>>(Pieces<E, B, N> a, int n) {
    Pieces<E, B, N> r;
    for (int i = 0; i < N; ++i) r.part[i] = a.part[i] >> n;
    return r;
}

// Truncating division by a constant (integer lanes).
template <int kDivisor, class E, int B, int N>
VELNOR_INLINE Pieces<E, B, N> divide(Pieces<E, B, N> a) {
    Pieces<E, B, N> r;
    for (int i = 0; i < N; ++i) r.part[i] = a.part[i] / static_cast<E>(kDivisor);
    return r;
}

template <class V>
VELNOR_INLINE V broadcast(typename V::Element v) {
    V r;
    for (int i = 0; i < V::kLaneCount / V::kPartLanes; ++i) r.part[i] = typename V::Part{} + v;
    return r;
}
// Register by register: one copy of the whole would travel through the stack in
// smaller pieces and stall the reloads.
template <class V>
VELNOR_INLINE V load_lanes(const typename V::Element* p) {
    V v;
    for (int i = 0; i < V::kLaneCount / V::kPartLanes; ++i)
        std::memcpy(&v.part[i], p + i * V::kPartLanes, sizeof v.part[i]);
    return v;
}
template <class V>
VELNOR_INLINE void store_lanes(typename V::Element* p, V v) {
    for (int i = 0; i < V::kLaneCount / V::kPartLanes; ++i)
        std::memcpy(p + i * V::kPartLanes, &v.part[i], sizeof v.part[i]);
}

// The lanes' bits as another 32-bit lane type, or their values converted to it
// (float to integer truncates toward zero; callers keep values in range).
template <class To, class E, int B, int N>
VELNOR_INLINE Pieces<To, B, N> bits_as(Pieces<E, B, N> v) {
    Pieces<To, B, N> r;
    for (int i = 0; i < N; ++i)
        r.part[i] = reinterpret_cast<typename Pieces<To, B, N>::Part>(v.part[i]);
    return r;
}
template <class To, class E, int B, int N>
VELNOR_INLINE Pieces<To, B, N> convert(Pieces<E, B, N> v) {
    Pieces<To, B, N> r;
    for (int i = 0; i < N; ++i)
        r.part[i] = __builtin_convertvector(v.part[i], typename Pieces<To, B, N>::Part);
    return r;
}

template <class E, int B, int N>
VELNOR_INLINE Pieces<E, B, N> select(PiecesMask<B, N> mask, Pieces<E, B, N> yes,
                                     Pieces<E, B, N> no) {
    Pieces<E, B, N> r;
    for (int i = 0; i < N; ++i) r.part[i] = mask.part[i] ? yes.part[i] : no.part[i];
    return r;
}
template <class E, int B, int N>
VELNOR_INLINE Pieces<E, B, N> max(Pieces<E, B, N> a, Pieces<E, B, N> b) {
    Pieces<E, B, N> r;
    for (int i = 0; i < N; ++i) r.part[i] = a.part[i] > b.part[i] ? a.part[i] : b.part[i];
    return r;
}
template <class E, int B, int N>
VELNOR_INLINE Pieces<E, B, N> min(Pieces<E, B, N> a, Pieces<E, B, N> b) {
    Pieces<E, B, N> r;
    for (int i = 0; i < N; ++i) r.part[i] = a.part[i] < b.part[i] ? a.part[i] : b.part[i];
    return r;
}
template <class E, int B, int N>
VELNOR_INLINE Pieces<E, B, N> magnitude(Pieces<E, B, N> v) {
    Pieces<E, B, N> r;
    for (int i = 0; i < N; ++i) r.part[i] = v.part[i] < 0 ? -v.part[i] : v.part[i];
    return r;
}

// Lane i takes lane i - kShift; the lowest lanes are left unspecified.
template <int kShift, class Part, std::size_t... J>
VELNOR_INLINE Part shift_in(Part below, Part v, std::index_sequence<J...>) {
    constexpr int kCount = sizeof...(J);
    return __builtin_shufflevector(below, v, (kCount - kShift + static_cast<int>(J))...);
}
template <int kShift, class E, int B, int N>
VELNOR_INLINE Pieces<E, B, N> lanes_down(Pieces<E, B, N> v) {
    using P = Pieces<E, B, N>;
    const auto lanes = std::make_index_sequence<P::kPartLanes>();
    P r;
    r.part[0] = shift_in<kShift>(v.part[0], v.part[0], lanes);
    for (int i = 1; i < N; ++i) r.part[i] = shift_in<kShift>(v.part[i - 1], v.part[i], lanes);
    return r;
}
template <class E, int B, int N>
VELNOR_INLINE Pieces<E, B, N> lanes_down1(Pieces<E, B, N> v) {
    return lanes_down<1>(v);
}
template <class E, int B, int N>
VELNOR_INLINE Pieces<E, B, N> lanes_down2(Pieces<E, B, N> v) {
    return lanes_down<2>(v);
}

// Lane i all ones where bit i of `bits` is set.
template <class Mask>
VELNOR_INLINE Mask pieces_from_bits(uint32_t bits) {
    int32_t lane_bit[Mask::kLaneCount];
    for (int i = 0; i < Mask::kLaneCount; ++i) lane_bit[i] = static_cast<int32_t>(1u << i);
    return (broadcast<Mask>(static_cast<int32_t>(bits)) & load_lanes<Mask>(lane_bit)) !=
           broadcast<Mask>(0);
}

// 4 x 4 lanes of 32 bits: out[j][i] = in[i][j], each row four consecutive
// elements. Used by the wavefront's transposes of 32-bit lanes.
VELNOR_INLINE void transpose4(const void* const in[4], void* const out[4]) {
    const __m128 r0 = _mm_loadu_ps(static_cast<const float*>(in[0]));
    const __m128 r1 = _mm_loadu_ps(static_cast<const float*>(in[1]));
    const __m128 r2 = _mm_loadu_ps(static_cast<const float*>(in[2]));
    const __m128 r3 = _mm_loadu_ps(static_cast<const float*>(in[3]));
    const __m128 t0 = _mm_unpacklo_ps(r0, r1), t1 = _mm_unpacklo_ps(r2, r3);
    const __m128 t2 = _mm_unpackhi_ps(r0, r1), t3 = _mm_unpackhi_ps(r2, r3);
    _mm_storeu_ps(static_cast<float*>(out[0]), _mm_movelh_ps(t0, t1));
    _mm_storeu_ps(static_cast<float*>(out[1]), _mm_movehl_ps(t1, t0));
    _mm_storeu_ps(static_cast<float*>(out[2]), _mm_movelh_ps(t2, t3));
    _mm_storeu_ps(static_cast<float*>(out[3]), _mm_movehl_ps(t3, t2));
}

// 8 x 8 lanes of 16 bits: out[j][i] = in[i][j], each row eight consecutive
// elements. Used by the wavefront's transposes of 16-bit words.
VELNOR_INLINE void transpose8_words(const void* const in[8], void* const out[8]) {
    __m128i r[8], a[8], b[8];
    for (int i = 0; i < 8; ++i) r[i] = _mm_loadu_si128(static_cast<const __m128i*>(in[i]));
    for (int i = 0; i < 8; i += 2) {  // row pairs, column pairs interleaved
        a[i] = _mm_unpacklo_epi16(r[i], r[i + 1]);
        a[i + 1] = _mm_unpackhi_epi16(r[i], r[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {  // row quads: columns 0-1, 2-3, 4-5, 6-7
        b[i] = _mm_unpacklo_epi32(a[i], a[i + 2]);
        b[i + 1] = _mm_unpackhi_epi32(a[i], a[i + 2]);
        b[i + 2] = _mm_unpacklo_epi32(a[i + 1], a[i + 3]);
        b[i + 3] = _mm_unpackhi_epi32(a[i + 1], a[i + 3]);
    }
    for (int j = 0; j < 4; ++j) {
        _mm_storeu_si128(static_cast<__m128i*>(out[2 * j]), _mm_unpacklo_epi64(b[j], b[j + 4]));
        _mm_storeu_si128(static_cast<__m128i*>(out[2 * j + 1]), _mm_unpackhi_epi64(b[j], b[j + 4]));
    }
}

}  // namespace
}  // namespace velnor
