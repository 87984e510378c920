// Shared by the declaration checks, which compile the project's host declarations
// together with a real install's headers: every comparison is made at run time and
// every mismatch printed, so that one run lists them all.
#pragma once

#include <cstdio>
#include <type_traits>

namespace velnor::real_hosts {

class DeclarationReport {
public:
    explicit DeclarationReport(const char* header) : header_(header) {}

    void value(const char* what, long long ours, long long host) {
        ++checked_;
        if (ours == host) return;
        ++mismatches_;
        std::printf("  MISMATCH %s: ours %lld, %s %lld\n", what, ours, header_, host);
    }
    void same_type(const char* what, bool same) {
        ++checked_;
        if (same) return;
        ++mismatches_;
        std::printf("  MISMATCH %s: type differs from %s\n", what, header_);
    }
    // Prints the summary line and returns the exit status.
    int finish() const {
        std::printf("declarations against %s: %d compared, %d mismatches -> %s\n", header_,
                    checked_, mismatches_, mismatches_ == 0 ? "PASS" : "FAIL");
        return mismatches_ == 0 ? 0 : 1;
    }

private:
    const char* header_;
    int checked_ = 0, mismatches_ = 0;
};

// Rewrites a type written with the host header's structs into the same type written
// with the project's: Leaf<T>::type names the project's struct for each host struct.
// Function types lose noexcept, which the project's declarations do not carry.
template <template <class> class Leaf, class T>
struct Translate {
    using type = typename Leaf<T>::type;
};
template <template <class> class Leaf, class T>
struct Translate<Leaf, T*> {
    using type = typename Translate<Leaf, T>::type*;
};
template <template <class> class Leaf, class T>
struct Translate<Leaf, const T> {
    using type = const typename Translate<Leaf, T>::type;
};
template <template <class> class Leaf, class R, class... A>
struct Translate<Leaf, R(A...)> {
    using type = typename Translate<Leaf, R>::type(typename Translate<Leaf, A>::type...);
};
template <template <class> class Leaf, class R, class... A>
struct Translate<Leaf, R(A...) noexcept> {
    using type = typename Translate<Leaf, R>::type(typename Translate<Leaf, A>::type...);
};

// True when the host type `Host` and the project type `Ours` are the same after
// translation.
template <template <class> class Leaf, class Host, class Ours>
inline constexpr bool kSameType = std::is_same_v<typename Translate<Leaf, Host>::type, Ours>;

// The project's struct for each host struct: each check specialises it with
// VELNOR_LEAF at global scope, after `namespace ours = <the project's namespace>;`.
template <class T>
struct Leaf {
    using type = T;
};

}  // namespace velnor::real_hosts

#define VELNOR_LEAF(name)                     \
    template <>                               \
    struct velnor::real_hosts::Leaf<::name> { \
        using type = ours::name;              \
    };
// Size, member offsets and member types, and constant values, ours against the host's.
#define VELNOR_SIZE(report, T) report.value("sizeof " #T, sizeof(ours::T), sizeof(::T))
#define VELNOR_MEMBER(report, T, m)                                                                \
    do {                                                                                           \
        report.value(#T "." #m " offset", offsetof(ours::T, m), offsetof(::T, m));                 \
        report.same_type(#T "." #m,                                                                \
                         ::velnor::real_hosts::kSameType<::velnor::real_hosts::Leaf,               \
                                                         decltype(::T::m), decltype(ours::T::m)>); \
    } while (0)
#define VELNOR_CONSTANT(report, c) report.value(#c, ours::c, ::c)
