// The spin-blocked Jordan-Wigner transform, term by term, with exact products.
#include "core/chemistry/jordan_wigner.hpp"

#include <bit>
#include <cmath>
#include <stdexcept>
#include <unordered_map>

namespace bvc::jw {

namespace {

struct Key {
    std::uint64_t x, z;
    bool operator==(const Key&) const = default;
};

struct KeyHash {
    std::size_t operator()(const Key& k) const noexcept {
        return std::hash<std::uint64_t>{}(k.x * 0x9e3779b97f4a7c15ULL ^ (k.z + 0x632be59bd9b4e019ULL));
    }
};

struct Value {
    double re, im;
};

struct Entry {
    Key key;
    Value value;
};

// value * i^k: a rotation, exact.
Value times_i_power(Value v, int k) {
    switch (k & 3) {
        case 1: return {-v.im, v.re};
        case 2: return {-v.re, -v.im};
        case 3: return {v.im, -v.re};
        default: return v;
    }
}

// Phase i^k of the product left * right of two Pauli strings: +i for every
// qubit where they meet as XY, YZ or ZX, -i for YX, ZY or XZ.
int product_phase(Key left, Key right) {
    const std::uint64_t lx = left.x & ~left.z, ly = left.x & left.z, lz = ~left.x & left.z;
    const std::uint64_t rx = right.x & ~right.z, ry = right.x & right.z, rz = ~right.x & right.z;
    const int plus = std::popcount((lx & ry) | (ly & rz) | (lz & rx));
    const int minus = std::popcount((ly & rx) | (lz & ry) | (lx & rz));
    return plus - minus;
}

// Spin-blocked qubit of an interleaved mode.
std::uint32_t qubit_of(std::uint32_t mode, std::size_t n_spatial) {
    return mode % 2 == 0 ? mode / 2 : static_cast<std::uint32_t>(mode / 2 + n_spatial);
}

// Multiplies the ordered sum `product` by the ladder operator on `qubit`,
// 0.5 X_q Z_{<q} -/+ 0.5i Y_q Z_{<q}, in place of `next`; equal strings are
// added in the order in which they arise.
void multiply_ladder(const std::vector<Entry>& product, std::uint32_t qubit, bool creation, std::vector<Entry>& next) {
    next.clear();
    const std::uint64_t bit = std::uint64_t{1} << qubit;
    const std::uint64_t below = bit - 1;
    const Key x_string{bit, below}, y_string{bit, below | bit};
    for (const Entry& left : product) {
        const Value half{left.value.re * 0.5, left.value.im * 0.5};
        for (int which = 0; which < 2; ++which) {
            const Key right = which == 0 ? x_string : y_string;
            // The Y string's coefficient is -0.5i for a creation, +0.5i for an annihilation operator.
            const int y_phase = which == 0 ? 0 : (creation ? 3 : 1);
            const Key key{left.key.x ^ right.x, left.key.z ^ right.z};
            const Value value = times_i_power(half, y_phase + product_phase(left.key, right));
            bool found = false;
            for (Entry& e : next) {
                if (e.key == key) {
                    e.value.re += value.re;
                    e.value.im += value.im;
                    found = true;
                    break;
                }
            }
            if (!found) next.push_back({key, value});
        }
    }
}

}  // namespace

PauliSum spin_blocked_jordan_wigner(std::size_t n_spatial, const FermionTerms& terms, double abs_tol,
                                    Interrupt interrupt) {
    if (2 * n_spatial > kMaxQubits) throw std::invalid_argument("at most 64 qubits");
    const std::size_t n_terms = terms.re.size();
    std::unordered_map<Key, Value, KeyHash> total;
    std::vector<Entry> product, next;
    for (std::size_t t = 0; t < n_terms; ++t) {
        const Value coefficient{terms.re[t], terms.im[t]};
        // The relabelling keeps only terms of magnitude 1e-8 and above.
        if (std::hypot(coefficient.re, coefficient.im) < kSmallSum) continue;
        product.assign(1, Entry{Key{0, 0}, coefficient});
        for (std::size_t k = terms.offsets[t]; k < terms.offsets[t + 1]; ++k) {
            const std::uint32_t mode = terms.modes[k];
            if (mode >= 2 * n_spatial) throw std::invalid_argument("mode outside the orbitals");
            multiply_ladder(product, qubit_of(mode, n_spatial), terms.creation[k], next);
            product.swap(next);
            interrupt.progress(product.size());
        }
        for (const Entry& e : product) {
            auto [it, inserted] = total.try_emplace(e.key, e.value);
            if (!inserted) {
                it->second.re += e.value.re;
                it->second.im += e.value.im;
            }
            if (std::hypot(it->second.re, it->second.im) < kSmallSum) total.erase(it);
        }
    }

    PauliSum sum;
    for (const auto& [key, value] : total) {
        double re = value.re, im = value.im;
        if (std::fabs(im) <= abs_tol) im = 0.0;
        if (std::fabs(re) <= abs_tol) re = 0.0;
        if (!(std::hypot(re, im) > abs_tol)) continue;
        sum.x.push_back(key.x);
        sum.z.push_back(key.z);
        sum.re.push_back(re);
        sum.im.push_back(im);
    }
    return sum;
}

}  // namespace bvc::jw
