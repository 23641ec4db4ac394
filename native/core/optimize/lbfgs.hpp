// Limited-memory BFGS with a preconditioner that may change as it goes.
//
// The search direction is the two-loop recursion over the last steps with
// H0 = gamma M^-1, M^-1 the preconditioner's current inverse metric and
// gamma = s.y / y.M^-1.y of the newest step. A new preconditioner changes H0
// only, so the memory of earlier steps stays valid: restarting it instead
// costs dozens of iterations each time. Steps meet the strong Wolfe
// conditions, or at least sufficient decrease when the line search runs out
// of trials; a step whose curvature s.y is not positive is not remembered.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace bvc::optimize {

// f(x), with its gradient written to `gradient`.
using Objective = std::function<double(const double* x, double* gradient)>;

// The inverse metric M^-1 of the preconditioner, measured at some point.
class Preconditioner {
public:
    virtual ~Preconditioner() = default;
    // Measures the metric at x.
    virtual void update(const double* x) = 0;
    // out = M^-1 v (symmetric positive definite).
    virtual void apply(const double* v, double* out) const = 0;
};

struct LbfgsSettings {
    int memory = 10;
    // The preconditioner is measured at the start and after every
    // `update_every` iterations.
    int update_every = 100;
    int most_iterations = 100000;
    // Sufficient decrease and curvature of the strong Wolfe conditions.
    double c1 = 1e-4;
    double c2 = 0.9;
    int most_line_steps = 20;
};

// Called after every iteration with the iteration count, the point and its
// value; returning false ends the run there.
using Observer = std::function<bool(int iteration, const double* x, double value)>;

struct LbfgsResult {
    std::vector<double> x;
    double value = 0.0;
    int iterations = 0;
    int evaluations = 0;
};

// Minimises `f` from `x`. `preconditioner` may be null (M = I).
LbfgsResult minimize_lbfgs(const Objective& f, std::vector<double> x, Preconditioner* preconditioner,
                           const Observer& observe, const LbfgsSettings& settings);

}  // namespace bvc::optimize
