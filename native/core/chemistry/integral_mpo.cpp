// Building the MPO of an electronic Hamiltonian from its one- and two-electron integrals.
#include "core/chemistry/integral_mpo.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace bvc::qc_mpo {

namespace {

struct ModeFactor {
    std::uint32_t mode;
    Factor factor;
};

// An operator string of H with its operators merged per mode and sorted by mode.
struct Term {
    std::array<ModeFactor, 4> factors;
    int count = 0;
    double value = 0.0;
};

int operator_count(Factor f) { return f == kNumber ? 2 : (f == kIdentity ? 0 : 1); }

// a+ raises the electron number; spin up (even mode) raises 2 Sz, spin down lowers it.
Charge charge_of(const ModeFactor& f) {
    if (f.factor == kNumber || f.factor == kIdentity) return {0, 0};
    const std::int32_t sign = f.factor == kCreate ? 1 : -1;
    return {sign, (f.mode % 2 == 0) ? sign : -sign};
}

// `modes[i]` with `create[i]` in product order. Sorting by mode (stably, so a
// creation stays left of an annihilation of the same mode) gives the fermion
// sign; a+ a of one mode is its number operator, a+ a+ or a a of one mode is 0.
bool make_term(const std::array<std::uint32_t, 4>& modes, const std::array<bool, 4>& create, int length, double value,
               Term& term) {
    std::array<int, 4> order = {0, 1, 2, 3};
    for (int i = 1; i < length; ++i) {
        for (int j = i; j > 0 && modes[order[j - 1]] > modes[order[j]]; --j) {
            std::swap(order[j - 1], order[j]);
            value = -value;
        }
    }
    term.count = 0;
    for (int i = 0; i < length; ++i) {
        const std::uint32_t mode = modes[order[i]];
        const bool is_create = create[order[i]];
        if (term.count > 0 && term.factors[term.count - 1].mode == mode) {
            ModeFactor& last = term.factors[term.count - 1];
            if (last.factor != kCreate || is_create) return false;
            last.factor = kNumber;
        } else {
            term.factors[term.count++] = {mode, is_create ? kCreate : kAnnihilate};
        }
    }
    term.value = value;
    return true;
}

enum Kind : std::uint64_t { kStart = 0, kDone = 1, kLeftPart = 2, kRightPart = 3 };

using Label = std::uint64_t;

// kind in the top two bits, then at most two factors of 31 bits each.
Label make_label(Kind kind, const ModeFactor* first, int count) {
    Label label = static_cast<Label>(kind) << 62;
    if (count > 2) throw std::logic_error("an MPO state labelled by more than two factors");
    for (int i = 0; i < count; ++i) {
        const Label code = ((static_cast<Label>(first[i].mode) << 2) | first[i].factor) + 1;
        label |= code << (31 * (1 - i));
    }
    return label;
}

Kind kind_of(Label label) { return static_cast<Kind>(label >> 62); }
bool is_left_kind(Kind kind) { return kind == kStart || kind == kLeftPart; }

std::array<ModeFactor, 2> factors_of(Label label, int& count) {
    std::array<ModeFactor, 2> factors{};
    count = 0;
    for (int i = 0; i < 2; ++i) {
        const Label code = (label >> (31 * (1 - i))) & ((Label{1} << 31) - 1);
        if (code == 0) continue;
        factors[count++] = {static_cast<std::uint32_t>((code - 1) >> 2), static_cast<Factor>((code - 1) & 3)};
    }
    return factors;
}

Charge label_charge(Label label) {
    int count = 0;
    const auto factors = factors_of(label, count);
    Charge total{0, 0};
    for (int i = 0; i < count; ++i) {
        const Charge c = charge_of(factors[i]);
        total.n += c.n;
        total.twice_sz += c.twice_sz;
    }
    // A right part stands for the left operators that complete it to a
    // charge-neutral string.
    if (kind_of(label) == kRightPart) return {-total.n, -total.twice_sz};
    return total;
}

bool label_parity(Label label) {
    int count = 0;
    const auto factors = factors_of(label, count);
    int ops = 0;
    for (int i = 0; i < count; ++i) ops += operator_count(factors[i].factor);
    return ops % 2 == 1;
}

struct Bond {
    std::unordered_map<Label, std::int32_t> index;
    std::vector<Label> labels;

    std::int32_t state(Label label) {
        auto [it, inserted] = index.emplace(label, static_cast<std::int32_t>(labels.size()));
        if (inserted) labels.push_back(label);
        return it->second;
    }
};

// (left state, right state, site operator) in one key.
using EdgeKey = std::uint64_t;
EdgeKey edge_key(std::int32_t left, std::int32_t right, std::uint8_t op) {
    return (static_cast<EdgeKey>(left) << 36) | (static_cast<EdgeKey>(right) << 8) | op;
}

struct Site {
    std::unordered_set<EdgeKey> structural;  // weight 1: passing or growing a label
    std::unordered_map<EdgeKey, double> coefficient;
};

class Builder {
public:
    Builder(std::size_t n_sites, Interrupt& interrupt)
        : n_(n_sites), middle_(n_sites / 2), bonds_(n_sites + 1), sites_(n_sites), interrupt_(interrupt) {}

    void add(const Term& term) {
        const std::size_t first = term.factors[0].mode / 2;
        const std::size_t last = term.factors[term.count - 1].mode / 2;
        interrupt_.progress(last - first + 1);
        latest_first_ = std::max(latest_first_, first);
        earliest_end_ = std::min(earliest_end_, last + 1);
        int total_ops = 0;
        for (int i = 0; i < term.count; ++i) total_ops += operator_count(term.factors[i].factor);

        int next = 0;  // first factor at or right of the current bond
        int left_ops = 0;
        Label left_label = make_label(kStart, nullptr, 0);
        std::int32_t left_state = bonds_[first].state(left_label);
        for (std::size_t site = first; site <= last; ++site) {
            std::uint8_t op = 0;
            while (next < term.count && term.factors[next].mode / 2 == site) {
                const ModeFactor& f = term.factors[next];
                op = static_cast<std::uint8_t>(op + (f.mode % 2 == 0 ? f.factor : 4 * f.factor));
                left_ops += operator_count(f.factor);
                ++next;
            }
            const Label right_label = label_at(site + 1, term, next, left_ops, total_ops);
            const std::int32_t right_state = bonds_[site + 1].state(right_label);
            const EdgeKey key = edge_key(left_state, right_state, op);
            if (is_left_kind(kind_of(left_label)) && !is_left_kind(kind_of(right_label))) {
                sites_[site].coefficient[key] += term.value;
            } else {
                sites_[site].structural.insert(key);
            }
            left_label = right_label;
            left_state = right_state;
        }
    }

    IntegralMpo finish(double drop) {
        add_identity_chains();
        for (Site& site : sites_) {
            std::erase_if(site.coefficient, [drop](const auto& e) { return !(std::abs(e.second) > drop); });
        }
        const auto alive = living_states();
        return assemble(alive);
    }

private:
    // Label of the string at `bond`, with factors [0, next) left of it.
    Label label_at(std::size_t bond, const Term& term, int next, int left_ops, int total_ops) const {
        const int right_ops = total_ops - left_ops;
        if (left_ops == 0) return make_label(kStart, nullptr, 0);
        if (right_ops == 0) return make_label(kDone, nullptr, 0);
        const bool left_part = left_ops < right_ops || (left_ops == right_ops && bond <= middle_);
        if (left_part) return make_label(kLeftPart, term.factors.data(), next);
        return make_label(kRightPart, term.factors.data() + next, term.count - next);
    }

    // Start states pass the identity up to the last site where a string
    // begins, done states from the first bond where one has ended.
    void add_identity_chains() {
        const Label start = make_label(kStart, nullptr, 0);
        const Label done = make_label(kDone, nullptr, 0);
        for (std::size_t site = 0; site < latest_first_ && site < n_; ++site) {
            sites_[site].structural.insert(edge_key(bonds_[site].state(start), bonds_[site + 1].state(start), 0));
        }
        for (std::size_t site = earliest_end_; site < n_; ++site) {
            sites_[site].structural.insert(edge_key(bonds_[site].state(done), bonds_[site + 1].state(done), 0));
        }
    }

    template <class Visit>
    static void for_each_edge(const Site& site, Visit&& visit) {
        for (EdgeKey key : site.structural) visit(key);
        for (const auto& [key, value] : site.coefficient) visit(key);
    }

    static std::int32_t left_of(EdgeKey key) { return static_cast<std::int32_t>(key >> 36); }
    static std::int32_t right_of(EdgeKey key) { return static_cast<std::int32_t>((key >> 8) & ((1u << 28) - 1)); }

    // States on some path from the start state of bond 0 to the done state of the last bond.
    std::vector<std::vector<bool>> living_states() {
        std::vector<std::vector<bool>> from_start(n_ + 1), to_end(n_ + 1), alive(n_ + 1);
        for (std::size_t b = 0; b <= n_; ++b) {
            from_start[b].assign(bonds_[b].labels.size(), false);
            to_end[b].assign(bonds_[b].labels.size(), false);
        }
        const auto start = bonds_[0].index.find(make_label(kStart, nullptr, 0));
        if (start != bonds_[0].index.end()) from_start[0][start->second] = true;
        const auto done = bonds_[n_].index.find(make_label(kDone, nullptr, 0));
        if (done != bonds_[n_].index.end()) to_end[n_][done->second] = true;
        for (std::size_t s = 0; s < n_; ++s) {
            for_each_edge(sites_[s], [&](EdgeKey key) {
                if (from_start[s][left_of(key)]) from_start[s + 1][right_of(key)] = true;
            });
        }
        for (std::size_t s = n_; s-- > 0;) {
            for_each_edge(sites_[s], [&](EdgeKey key) {
                if (to_end[s + 1][right_of(key)]) to_end[s][left_of(key)] = true;
            });
        }
        for (std::size_t b = 0; b <= n_; ++b) {
            alive[b].resize(bonds_[b].labels.size());
            for (std::size_t i = 0; i < alive[b].size(); ++i) alive[b][i] = from_start[b][i] && to_end[b][i];
        }
        return alive;
    }

    IntegralMpo assemble(const std::vector<std::vector<bool>>& alive) {
        IntegralMpo mpo;
        std::vector<std::vector<std::int32_t>> renumber(n_ + 1);
        std::vector<std::vector<bool>> parity(n_ + 1);
        for (std::size_t b = 0; b <= n_; ++b) {
            const Bond& bond = bonds_[b];
            std::vector<std::int32_t> kept;
            std::vector<Charge> charges(bond.labels.size());
            for (std::size_t i = 0; i < bond.labels.size(); ++i) {
                charges[i] = label_charge(bond.labels[i]);
                if (alive[b][i]) kept.push_back(static_cast<std::int32_t>(i));
            }
            std::sort(kept.begin(), kept.end(), [&](std::int32_t x, std::int32_t y) {
                const Charge &cx = charges[x], &cy = charges[y];
                if (cx.n != cy.n) return cx.n < cy.n;
                if (cx.twice_sz != cy.twice_sz) return cx.twice_sz < cy.twice_sz;
                return bond.labels[x] < bond.labels[y];
            });
            renumber[b].assign(bond.labels.size(), -1);
            parity[b].assign(bond.labels.size(), false);
            std::vector<Charge> ordered;
            std::int32_t start = -1, done = -1;
            for (std::size_t k = 0; k < kept.size(); ++k) {
                const std::int32_t i = kept[k];
                renumber[b][i] = static_cast<std::int32_t>(k);
                parity[b][i] = label_parity(bond.labels[i]);
                ordered.push_back(charges[i]);
                if (kind_of(bond.labels[i]) == kStart) start = static_cast<std::int32_t>(k);
                if (kind_of(bond.labels[i]) == kDone) done = static_cast<std::int32_t>(k);
            }
            mpo.bond_charges.push_back(std::move(ordered));
            mpo.start_state.push_back(start);
            mpo.done_state.push_back(done);
        }
        for (std::size_t s = 0; s < n_; ++s) {
            std::vector<Entry> entries;
            auto emit = [&](EdgeKey key, double value) {
                const std::int32_t left = renumber[s][left_of(key)], right = renumber[s + 1][right_of(key)];
                if (left < 0 || right < 0) return;
                entries.push_back(
                    {left, right, static_cast<std::uint8_t>(key & 0xff), parity[s + 1][right_of(key)], value});
            };
            for (EdgeKey key : sites_[s].structural) emit(key, 1.0);
            for (const auto& [key, value] : sites_[s].coefficient) emit(key, value);
            std::sort(entries.begin(), entries.end(), [](const Entry& x, const Entry& y) {
                if (x.left != y.left) return x.left < y.left;
                if (x.right != y.right) return x.right < y.right;
                return x.op < y.op;
            });
            mpo.site_entries.push_back(std::move(entries));
        }
        return mpo;
    }

    std::size_t n_;
    std::size_t middle_;
    std::vector<Bond> bonds_;
    std::vector<Site> sites_;
    Interrupt& interrupt_;
    std::size_t latest_first_ = 0;
    std::size_t earliest_end_ = static_cast<std::size_t>(-1);
};

}  // namespace

IntegralMpo build(std::size_t n_sites, const double* h, const double* eri, double drop, Interrupt interrupt) {
    if (n_sites < 1 || n_sites > kMaxSites) throw std::invalid_argument("orbital count out of range");
    const std::size_t n = n_sites;
    Builder builder(n, interrupt);
    Term term;
    for (std::uint32_t p = 0; p < n; ++p) {
        for (std::uint32_t q = 0; q < n; ++q) {
            const double value = h[std::size_t{p} * n + q];
            if (value == 0.0) continue;
            for (std::uint32_t s = 0; s < 2; ++s) {
                if (make_term({2 * p + s, 2 * q + s, 0, 0}, {true, false, false, false}, 2, value, term)) {
                    builder.add(term);
                }
            }
        }
    }
    for (std::uint32_t p = 0; p < n; ++p) {
        for (std::uint32_t q = 0; q < n; ++q) {
            for (std::uint32_t r = 0; r < n; ++r) {
                for (std::uint32_t s = 0; s < n; ++s) {
                    const double value = 0.5 * eri[((std::size_t{p} * n + q) * n + r) * n + s];
                    if (value == 0.0) continue;
                    for (std::uint32_t sigma = 0; sigma < 2; ++sigma) {
                        for (std::uint32_t tau = 0; tau < 2; ++tau) {
                            // a+_{p sigma} a+_{r tau} a_{s tau} a_{q sigma}
                            const std::array<std::uint32_t, 4> modes = {2 * p + sigma, 2 * r + tau, 2 * s + tau,
                                                                        2 * q + sigma};
                            if (make_term(modes, {true, true, false, false}, 4, value, term)) builder.add(term);
                        }
                    }
                }
            }
        }
    }
    return builder.finish(drop);
}

}  // namespace bvc::qc_mpo
