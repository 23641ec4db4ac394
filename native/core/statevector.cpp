#include "core/statevector.hpp"

#include <bit>
#include <utility>

namespace bvc::sv {

namespace {

inline std::uint64_t dim(int n_qubits) { return std::uint64_t{1} << n_qubits; }

// Index with a zero bit inserted at position `bit`.
inline std::uint64_t insert_zero(std::uint64_t k, int bit) {
    const std::uint64_t low = k & ((std::uint64_t{1} << bit) - 1);
    return ((k >> bit) << (bit + 1)) | low;
}

}  // namespace

void apply_1q(cplx* psi, int n_qubits, int qubit, const Mat2& u) {
    const std::uint64_t half = dim(n_qubits) >> 1, step = std::uint64_t{1} << qubit;
    const cplx a = u.m[0], b = u.m[1], c = u.m[2], d = u.m[3];
    for (std::uint64_t k = 0; k < half; ++k) {
        const std::uint64_t i0 = insert_zero(k, qubit), i1 = i0 | step;
        const cplx v0 = psi[i0], v1 = psi[i1];
        psi[i0] = a * v0 + b * v1;
        psi[i1] = c * v0 + d * v1;
    }
}

void apply_diagonal_1q(cplx* psi, int n_qubits, int qubit, cplx d0, cplx d1) {
    const std::uint64_t size = dim(n_qubits);
    for (std::uint64_t i = 0; i < size; ++i) psi[i] *= ((i >> qubit) & 1) ? d1 : d0;
}

void apply_2q(cplx* psi, int n_qubits, int q0, int q1, const Mat4& u) {
    const int lo = q0 < q1 ? q0 : q1, hi = q0 < q1 ? q1 : q0;
    const std::uint64_t quarter = dim(n_qubits) >> 2;
    const std::uint64_t b0 = std::uint64_t{1} << q0, b1 = std::uint64_t{1} << q1;
    for (std::uint64_t k = 0; k < quarter; ++k) {
        const std::uint64_t base = insert_zero(insert_zero(k, lo), hi);
        const std::uint64_t idx[4] = {base, base | b0, base | b1, base | b0 | b1};
        const cplx v[4] = {psi[idx[0]], psi[idx[1]], psi[idx[2]], psi[idx[3]]};
        for (int r = 0; r < 4; ++r) {
            const cplx* row = u.m + 4 * r;
            psi[idx[r]] = row[0] * v[0] + row[1] * v[1] + row[2] * v[2] + row[3] * v[3];
        }
    }
}

void apply_cx(cplx* psi, int n_qubits, int control, int target) {
    const int lo = control < target ? control : target, hi = control < target ? target : control;
    const std::uint64_t quarter = dim(n_qubits) >> 2;
    const std::uint64_t c = std::uint64_t{1} << control, t = std::uint64_t{1} << target;
    for (std::uint64_t k = 0; k < quarter; ++k) {
        const std::uint64_t base = insert_zero(insert_zero(k, lo), hi) | c;
        std::swap(psi[base], psi[base | t]);
    }
}

void apply_cz(cplx* psi, int n_qubits, int a, int b) {
    const std::uint64_t mask = (std::uint64_t{1} << a) | (std::uint64_t{1} << b), size = dim(n_qubits);
    for (std::uint64_t i = 0; i < size; ++i) {
        if ((i & mask) == mask) psi[i] = -psi[i];
    }
}

void apply_swap(cplx* psi, int n_qubits, int a, int b) {
    const int lo = a < b ? a : b, hi = a < b ? b : a;
    const std::uint64_t quarter = dim(n_qubits) >> 2;
    const std::uint64_t ba = std::uint64_t{1} << a, bb = std::uint64_t{1} << b;
    for (std::uint64_t k = 0; k < quarter; ++k) {
        const std::uint64_t base = insert_zero(insert_zero(k, lo), hi);
        std::swap(psi[base | ba], psi[base | bb]);
    }
}

cplx pauli_expectation(const cplx* psi, int n_qubits, const PauliMask& mask) {
    const std::uint64_t size = dim(n_qubits);
    double re = 0.0, im = 0.0;
    if (mask.x == 0) {
        for (std::uint64_t i = 0; i < size; ++i) {
            const double p = std::norm(psi[i]);
            re += (std::popcount(i & mask.z) & 1) ? -p : p;
        }
    } else {
        // P|i> = i^ny (-1)^popcount(i & z) |i ^ x>
        for (std::uint64_t i = 0; i < size; ++i) {
            const cplx t = std::conj(psi[i ^ mask.x]) * psi[i];
            if (std::popcount(i & mask.z) & 1) {
                re -= t.real();
                im -= t.imag();
            } else {
                re += t.real();
                im += t.imag();
            }
        }
    }
    static const cplx phase[4] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    return phase[std::popcount(mask.x & mask.z) & 3] * cplx(re, im);
}

cplx hamiltonian_expectation(const cplx* psi, int n_qubits, const std::vector<PauliMask>& masks,
                             const std::vector<cplx>& coeffs) {
    cplx total = 0.0;
    for (std::size_t k = 0; k < masks.size(); ++k) total += coeffs[k] * pauli_expectation(psi, n_qubits, masks[k]);
    return total;
}

}  // namespace bvc::sv
