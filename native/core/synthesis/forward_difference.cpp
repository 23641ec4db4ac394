// The optimiser's own forward-difference gradient, computed natively so that it takes the same path.
#include "core/synthesis/forward_difference.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace bvc::synthesis {

DifferenceStep forward_difference_step(double x) {
    double h = kForwardDifferenceStep;
    if ((x + h) - x == 0.0) {
        // A step lost to rounding (|x| beyond about 1e8): SciPy falls back on
        // the relative step, with the sign convention of its own rule. Only
        // finite x get here; NaN and inf never compare equal to zero above.
        const double sign = x >= 0.0 ? 1.0 : -1.0;
        h = std::sqrt(std::numeric_limits<double>::epsilon()) * sign * std::max(1.0, std::abs(x));
    }
    return DifferenceStep{x + h, (x + h) - x};
}

}  // namespace bvc::synthesis
