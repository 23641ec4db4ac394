// Gate matrices of the circuit synthesis and the out-of-place two-qubit
// kernel with which its objective simulates a candidate disentangler.
//
// Conventions: a rotation vector v stands for exp(-i (vx X + vy Y + vz Z) / 2);
// a 4x4 matrix on a pair q0 < q1 is written in the basis |q1 q0> (local index
// 2*b(q1) + b(q0)); a state vector has qubit 0 as its least significant bit.
#pragma once

#include <complex>

#include "core/statevector/statevector.hpp"

namespace bvc::synthesis {

using cplx = std::complex<double>;

// Real parameters of one disentangler: rotation vectors of q0 and q1, then the
// angles of the X(x)X, Y(x)Y and Z(x)Z rotations.
inline constexpr int kEntanglerParams = 9;
// One gate row: q0, q1 and the nine parameters.
inline constexpr int kGateRowWidth = 11;
// Order of the Pauli-product rotations inside a disentangler.
inline constexpr char kPauliAxes[] = "XYZ";
// Rotation vectors shorter than this are the identity.
inline constexpr double kRotationNormFloor = 1e-12;

// Euclidean norm of a rotation vector, the rotation angle.
double rotation_angle(const double v[3]);

// exp(-i v.sigma / 2) as a 2x2 matrix; exactly the identity below the floor.
bvc::sv::Mat2 axis_rotation_matrix(const double v[3]);

// The disentangler exp(-i p8 ZZ) exp(-i p7 YY) exp(-i p6 XX) (R(p[3:6]) (x) R(p[0:3]))
// in the |q1 q0> basis.
bvc::sv::Mat4 entangler_matrix(const double p[kEntanglerParams]);

// The three partial derivatives of exp(-i v.sigma / 2) with respect to
// v[0], v[1], v[2]. They are those of the smooth rotation, so at (and below
// the floor near) v = 0 they take the limit -i sigma_j / 2, although the
// matrix itself is returned as exactly the identity there.
void axis_rotation_derivatives(const double v[3], bvc::sv::Mat2 out[3]);

// The disentangler and its nine partial derivatives with respect to p[k];
// `u` equals entangler_matrix(p) bit for bit.
void entangler_matrix_derivatives(const double p[kEntanglerParams], bvc::sv::Mat4& u,
                                  bvc::sv::Mat4 du[kEntanglerParams]);

// out = (m on qubits q0, q1) in, for 0 <= q0 < q1 < n_qubits (not checked).
// `in` and `out` hold 2^n_qubits amplitudes each and must not overlap.
void apply_two_qubit_unitary(const cplx* in, cplx* out, int q0, int q1, int n_qubits, const bvc::sv::Mat4& m);

// Z-Y-Z Euler angles of exp(-i v.sigma / 2), in the order the gates are
// applied: rz(first_z), ry(y), rz(last_z). Their product equals the
// rotation up to the global phase convention of the rz/ry gates. Only
// meaningful for a vector of norm at least kRotationNormFloor.
struct ZyzAngles {
    double first_z;
    double y;
    double last_z;
};
ZyzAngles zyz_angles(const double v[3]);

}  // namespace bvc::synthesis
