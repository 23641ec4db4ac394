// The forward-difference gradient that SciPy's L-BFGS-B builds when it is
// given no Jacobian, reproduced operation for operation so that handing the
// optimiser this gradient together with the value (jac=True) makes it take
// exactly the same path as computing the differences itself.
//
// SciPy's rule (scipy/optimize/_numdiff.py, approx_derivative with
// method='2-point' and the absolute step `eps` of L-BFGS-B, 1e-8 by default):
//
//   h_i    = eps, or, where (x_i + eps) - x_i == 0, the relative fallback
//            sqrt(machine epsilon) * sign(x_i) * max(1, |x_i|) with
//            sign(x_i) = +1 for x_i >= 0 (zero and -0 included), -1 otherwise;
//   point  = x with coordinate i replaced by x_i + h_i;
//   step_i = (x_i + h_i) - x_i, the step actually taken;
//   g_i    = (f(point) - f(x)) / step_i,
//
// f(x) being the value already computed at x (ScalarFunction hands it in as
// f0), so one gradient costs n + 1 evaluations including the value.
#pragma once

namespace bvc::synthesis {

// SciPy's default `eps` for L-BFGS-B.
inline constexpr double kForwardDifferenceStep = 1e-8;

struct DifferenceStep {
    double shifted;  // x_i + h_i, the coordinate of the evaluation point
    double step;     // (x_i + h_i) - x_i, the divisor
};

DifferenceStep forward_difference_step(double x);

// g_i from the value at the shifted point, the value at x and the step.
inline double difference_quotient(double shifted_value, double value, double step) {
    return (shifted_value - value) / step;
}

}  // namespace bvc::synthesis
