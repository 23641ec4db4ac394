// Tests of the preconditioned L-BFGS.
#include <cmath>
#include <limits>
#include <vector>

#include "check.hpp"
#include "core/optimize/lbfgs.hpp"

namespace {

// M^-1 = diag(1 / a): the exact inverse Hessian of the quadratic below.
class DiagonalInverse : public bvc::optimize::Preconditioner {
public:
    explicit DiagonalInverse(std::vector<double> a) : a_(std::move(a)) {}
    void update(const double*) override { ++updates; }
    void apply(const double* v, double* out) const override {
        for (std::size_t i = 0; i < a_.size(); ++i) out[i] = v[i] / a_[i];
    }
    int updates = 0;

private:
    std::vector<double> a_;
};

const bvc::optimize::Observer kNeverStop = [](int, const double*, double) { return true; };

}  // namespace

// On a quadratic whose curvatures span two decades the plain run reaches the
// minimum; on one whose curvatures span six (where plain L-BFGS creeps for
// thousands of iterations) the run preconditioned with the exact inverse
// Hessian reaches it in a couple of steps and measures its metric on
// schedule; an observer ends a run where it says; a NaN beyond a wall is
// stepped back from.
BVC_TEST(lbfgs_reaches_the_minimum_of_an_ill_conditioned_quadratic) {
    const int n = 30;
    std::vector<double> a(n), c(n);
    for (int i = 0; i < n; ++i) c[i] = std::sin(1.0 + i);
    int evaluations = 0;
    const bvc::optimize::Objective quadratic = [&](const double* x, double* g) {
        ++evaluations;
        double f = 0.0;
        for (int i = 0; i < n; ++i) {
            g[i] = a[i] * (x[i] - c[i]);
            f += 0.5 * a[i] * (x[i] - c[i]) * (x[i] - c[i]);
        }
        return f;
    };
    auto spread = [&](double decades) {
        for (int i = 0; i < n; ++i) a[i] = std::pow(10.0, decades * (static_cast<double>(i) / (n - 1) - 0.5));
    };
    auto distance = [&](const std::vector<double>& x) {
        double d = 0.0;
        for (int i = 0; i < n; ++i) d = std::max(d, std::abs(x[i] - c[i]));
        return d;
    };
    bvc::optimize::LbfgsSettings settings;
    settings.most_iterations = 2000;
    // Stop once the value is at rounding level: past it the line search has nothing to find.
    const bvc::optimize::Observer until_tiny = [](int, const double*, double f) { return f > 1e-22; };

    spread(2.0);
    const auto plain =
        bvc::optimize::minimize_lbfgs(quadratic, std::vector<double>(n, 0.0), nullptr, until_tiny, settings);
    BVC_CHECK(distance(plain.x) < 1e-8);
    BVC_CHECK(plain.evaluations == evaluations);

    spread(6.0);
    DiagonalInverse exact(a);
    settings.update_every = 2;
    const auto preconditioned =
        bvc::optimize::minimize_lbfgs(quadratic, std::vector<double>(n, 0.0), &exact, until_tiny, settings);
    BVC_CHECK(distance(preconditioned.x) < 1e-9);
    BVC_CHECK(preconditioned.iterations <= 3);
    BVC_CHECK(exact.updates == (preconditioned.iterations + 1) / 2);

    const auto stopped = bvc::optimize::minimize_lbfgs(
        quadratic, std::vector<double>(n, 0.0), nullptr, [](int k, const double*, double) { return k < 5; }, settings);
    BVC_CHECK(stopped.iterations == 5);

    // f = (x - 3)^2 for x < 2, NaN beyond: the minimum on the wall's near side is at the wall.
    const bvc::optimize::Objective walled = [](const double* x, double* g) {
        if (x[0] >= 2.0) {
            g[0] = std::numeric_limits<double>::quiet_NaN();
            return std::numeric_limits<double>::quiet_NaN();
        }
        g[0] = 2.0 * (x[0] - 3.0);
        return (x[0] - 3.0) * (x[0] - 3.0);
    };
    settings.most_iterations = 200;
    const auto wall = bvc::optimize::minimize_lbfgs(walled, {0.0}, nullptr, kNeverStop, settings);
    BVC_CHECK(std::isfinite(wall.value) && wall.x[0] < 2.0 && wall.x[0] > 1.9);
}

// The Rosenbrock valley, the classic test of a line search: from (-1.2, 1)
// to (1, 1).
BVC_TEST(lbfgs_follows_the_rosenbrock_valley) {
    const bvc::optimize::Objective rosenbrock = [](const double* x, double* g) {
        const double u = x[1] - x[0] * x[0], v = 1.0 - x[0];
        g[0] = -400.0 * x[0] * u - 2.0 * v;
        g[1] = 200.0 * u;
        return 100.0 * u * u + v * v;
    };
    bvc::optimize::LbfgsSettings settings;
    settings.most_iterations = 200;
    const auto result = bvc::optimize::minimize_lbfgs(
        rosenbrock, {-1.2, 1.0}, nullptr, [](int, const double*, double f) { return f > 1e-18; }, settings);
    BVC_CHECK(std::abs(result.x[0] - 1.0) < 1e-6 && std::abs(result.x[1] - 1.0) < 1e-6);
    BVC_CHECK(result.iterations < 100);
}
