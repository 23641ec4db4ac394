// 2x2 and 4x4 complex matrices of single- and two-qubit gates, and the few
// operations on them the kernels share.
#pragma once

#include <complex>

namespace bvc::sv {

using cplx = std::complex<double>;

inline constexpr cplx kI{0.0, 1.0};

// 2x2 matrix, row-major, rows and columns in the order |0>, |1>.
struct Mat2 {
    cplx m[4];
};

// 4x4 matrix, row-major, in the basis |q1 q0> (index 2*b(q1) + b(q0)).
struct Mat4 {
    cplx m[16];
};

inline Mat2 identity2() { return Mat2{{1.0, 0.0, 0.0, 1.0}}; }

inline Mat4 identity4() {
    Mat4 out{};
    for (int k = 0; k < 4; ++k) out.m[5 * k] = 1.0;
    return out;
}

// The Pauli matrix of `axis` (0 X, 1 Y, 2 Z).
inline const Mat2& pauli(int axis) {
    static const Mat2 paulis[3] = {Mat2{{0.0, 1.0, 1.0, 0.0}}, Mat2{{0.0, -cplx(0.0, 1.0), cplx(0.0, 1.0), 0.0}},
                                   Mat2{{1.0, 0.0, 0.0, -1.0}}};
    return paulis[axis];
}

// a b: b acts first.
inline Mat2 product(const Mat2& a, const Mat2& b) {
    Mat2 out;
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c) out.m[2 * r + c] = a.m[2 * r] * b.m[c] + a.m[2 * r + 1] * b.m[2 + c];
    return out;
}

// a b: b acts first. Each entry sums its four terms in order from zero.
inline Mat4 product(const Mat4& a, const Mat4& b) {
    Mat4 out{};
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 4; ++k)
            for (int c = 0; c < 4; ++c) out.m[4 * r + c] += a.m[4 * r + k] * b.m[4 * k + c];
    return out;
}

// high (x) low: `high` on q1, `low` on q0.
inline Mat4 kron(const Mat2& high, const Mat2& low) {
    Mat4 out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out.m[4 * r + c] = high.m[2 * (r >> 1) + (c >> 1)] * low.m[2 * (r & 1) + (c & 1)];
    return out;
}

// The conjugate transpose.
inline Mat2 adjoint(const Mat2& a) {
    return Mat2{{std::conj(a.m[0]), std::conj(a.m[2]), std::conj(a.m[1]), std::conj(a.m[3])}};
}

inline Mat4 adjoint(const Mat4& a) {
    Mat4 out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out.m[4 * r + c] = std::conj(a.m[4 * c + r]);
    return out;
}

}  // namespace bvc::sv
