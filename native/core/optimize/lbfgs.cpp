// Preconditioned L-BFGS with a strong Wolfe line search (Nocedal and Wright,
// Numerical Optimization, algorithms 7.4, 3.5 and 3.6).
#include "core/optimize/lbfgs.hpp"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <utility>

namespace bvc::optimize {

namespace {

double dot(const std::vector<double>& a, const std::vector<double>& b) {
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += a[i] * b[i];
    return sum;
}

// A point on the search line: x + alpha d, its value, gradient and slope g.d.
struct Trial {
    double alpha = 0.0;
    double value = 0.0;
    double slope = 0.0;
    std::vector<double> x, gradient;
};

// The minimiser of the cubic through two trials' values and slopes, kept a
// tenth of the interval away from its ends (else the midpoint).
double interpolate(const Trial& a, const Trial& b) {
    const double d1 = a.slope + b.slope - 3.0 * (a.value - b.value) / (a.alpha - b.alpha);
    const double discriminant = d1 * d1 - a.slope * b.slope;
    double t = std::numeric_limits<double>::quiet_NaN();
    if (discriminant >= 0.0) {
        const double d2 = std::copysign(std::sqrt(discriminant), b.alpha - a.alpha);
        t = b.alpha - (b.alpha - a.alpha) * (b.slope + d2 - d1) / (b.slope - a.slope + 2.0 * d2);
    }
    const double lo = std::min(a.alpha, b.alpha), hi = std::max(a.alpha, b.alpha), margin = 0.1 * (hi - lo);
    if (!(t >= lo + margin && t <= hi - margin)) t = 0.5 * (a.alpha + b.alpha);
    return t;
}

class LineSearch {
public:
    LineSearch(const Objective& f, const std::vector<double>& x, const std::vector<double>& d, double value,
               double slope, const LbfgsSettings& settings, int& evaluations)
        : f_(f), x_(x), d_(d), value_(value), slope_(slope), settings_(settings), evaluations_(evaluations) {}

    // A step from `alpha` meeting the strong Wolfe conditions or, when none
    // is found in the allowed evaluations, the lowest point found with
    // sufficient decrease; false when there is none.
    bool run(double alpha, Trial& out) {
        Trial previous;
        previous.value = value_;
        previous.slope = slope_;
        for (int step = 0; step < settings_.most_line_steps; ++step) {
            Trial current = evaluate(alpha);
            if (!decreases(current) || (step > 0 && current.value >= previous.value)) {
                return zoom(std::move(previous), std::move(current), out);
            }
            if (std::abs(current.slope) <= -settings_.c2 * slope_) {
                out = std::move(current);
                return true;
            }
            if (current.slope >= 0.0) return zoom(std::move(current), std::move(previous), out);
            previous = std::move(current);
            alpha *= 2.0;
        }
        return accept_lowest(previous, out);
    }

private:
    Trial evaluate(double alpha) {
        Trial t;
        t.alpha = alpha;
        t.x.resize(x_.size());
        t.gradient.resize(x_.size());
        for (std::size_t i = 0; i < x_.size(); ++i) t.x[i] = x_[i] + alpha * d_[i];
        t.value = f_(t.x.data(), t.gradient.data());
        t.slope = dot(t.gradient, d_);
        ++evaluations_;
        return t;
    }

    // Sufficient decrease; a NaN value fails it.
    bool decreases(const Trial& t) const { return t.value <= value_ + settings_.c1 * t.alpha * slope_; }

    // `low` has sufficient decrease and the lower value of the two; a step
    // meeting both conditions lies between `low` and `high`.
    bool zoom(Trial low, Trial high, Trial& out) {
        for (int step = 0; step < settings_.most_line_steps; ++step) {
            const double alpha = std::isfinite(high.value) ? interpolate(low, high) : 0.5 * (low.alpha + high.alpha);
            Trial current = evaluate(alpha);
            if (!decreases(current) || current.value >= low.value) {
                high = std::move(current);
                continue;
            }
            if (std::abs(current.slope) <= -settings_.c2 * slope_) {
                out = std::move(current);
                return true;
            }
            if (current.slope * (high.alpha - low.alpha) >= 0.0) high = std::move(low);
            low = std::move(current);
        }
        return accept_lowest(low, out);
    }

    static bool accept_lowest(Trial& low, Trial& out) {
        if (low.alpha <= 0.0) return false;
        out = std::move(low);
        return true;
    }

    const Objective& f_;
    const std::vector<double>& x_;
    const std::vector<double>& d_;
    double value_, slope_;
    const LbfgsSettings& settings_;
    int& evaluations_;
};

struct Pair {
    std::vector<double> s, y;
    double rho;
};

}  // namespace

LbfgsResult minimize_lbfgs(const Objective& f, std::vector<double> x, Preconditioner* preconditioner,
                           const Observer& observe, const LbfgsSettings& settings) {
    const std::size_t n = x.size();
    LbfgsResult result;
    std::vector<double> g(n), q(n), r(n), scratch(n), d(n);
    double value = f(x.data(), g.data());
    result.evaluations = 1;
    auto inverse_metric = [&](const std::vector<double>& v, std::vector<double>& out) {
        if (preconditioner != nullptr) {
            preconditioner->apply(v.data(), out.data());
        } else {
            out = v;
        }
    };
    std::deque<Pair> memory;
    std::vector<double> alphas;
    double previous_value = std::numeric_limits<double>::quiet_NaN();
    int iterations = 0;
    while (std::isfinite(value) && iterations < settings.most_iterations) {
        if (preconditioner != nullptr && iterations % settings.update_every == 0) preconditioner->update(x.data());
        // Two-loop recursion: r = H g.
        q = g;
        alphas.assign(memory.size(), 0.0);
        for (std::size_t k = memory.size(); k-- > 0;) {
            alphas[k] = memory[k].rho * dot(memory[k].s, q);
            for (std::size_t i = 0; i < n; ++i) q[i] -= alphas[k] * memory[k].y[i];
        }
        inverse_metric(q, r);
        if (memory.empty()) {
            // The first step is at most of unit length.
            const double length = std::sqrt(dot(r, r));
            if (length > 1.0)
                for (double& v : r) v /= length;
        } else {
            inverse_metric(memory.back().y, scratch);
            const double gamma = dot(memory.back().s, memory.back().y) / dot(memory.back().y, scratch);
            for (double& v : r) v *= gamma;
        }
        for (std::size_t k = 0; k < memory.size(); ++k) {
            const double beta = memory[k].rho * dot(memory[k].y, r);
            for (std::size_t i = 0; i < n; ++i) r[i] += (alphas[k] - beta) * memory[k].s[i];
        }
        for (std::size_t i = 0; i < n; ++i) d[i] = -r[i];
        const double slope = dot(g, d);
        // The first trial step: the unit step, or less where the last
        // iteration's decrease, repeated, would be reached sooner along this slope.
        double alpha = 1.0;
        const double expected = 2.02 * (value - previous_value) / slope;
        if (expected > 0.0) alpha = std::min(alpha, expected);
        Trial step;
        int evaluations = 0;
        const bool found = slope < 0.0 && LineSearch(f, x, d, value, slope, settings, evaluations).run(alpha, step);
        result.evaluations += evaluations;
        if (!found) {
            // Forget the memory and try the steepest descent of the metric once.
            // Else no step along it met the conditions: the run ends where
            // it stands, as at a minimum.
            if (!memory.empty()) {
                memory.clear();
                continue;
            }
            break;
        }
        Pair pair{std::vector<double>(n), std::vector<double>(n), 0.0};
        for (std::size_t i = 0; i < n; ++i) {
            pair.s[i] = step.x[i] - x[i];
            pair.y[i] = step.gradient[i] - g[i];
        }
        const double sy = dot(pair.s, pair.y);
        if (sy > 1e-12 * dot(pair.y, pair.y)) {
            pair.rho = 1.0 / sy;
            memory.push_back(std::move(pair));
            if (memory.size() > static_cast<std::size_t>(settings.memory)) memory.pop_front();
        }
        x = std::move(step.x);
        g = std::move(step.gradient);
        previous_value = value;
        value = step.value;
        ++iterations;
        if (!observe(iterations, x.data(), value)) break;
    }
    result.x = std::move(x);
    result.value = value;
    result.iterations = iterations;
    return result;
}

}  // namespace bvc::optimize
