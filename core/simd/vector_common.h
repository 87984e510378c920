// What every vector layer (vector_<isa>.h) starts from. A vector layer gives one
// translation unit, built with its instruction set's flags, the type Vec of kLanes
// int16 lanes and the operations the pass needs; everything has internal linkage.
// Free of any instruction set's intrinsics: a layer includes its own.
#pragma once

#include <cstdint>
#include <cstring>

// Small vector helpers must melt into their callers: passed as arguments, the
// split vectors would travel through memory.
#define VELNOR_INLINE __attribute__((always_inline)) inline

// Element-wise operators for vectors kept as several native parts.
#define VELNOR_PIECEWISE(Result, Type, part, count, op)                     \
    VELNOR_INLINE Result operator op(Type a, Type b) {                      \
        Result r;                                                           \
        for (int i = 0; i < count; ++i) r.part[i] = a.part[i] op b.part[i]; \
        return r;                                                           \
    }
