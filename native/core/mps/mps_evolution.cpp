// Gates on a matrix product state, with the centre moved and bonds truncated as they go.
#include "core/mps/mps_evolution.hpp"

#include <algorithm>
#include <utility>

namespace bvc::mps {

Evolution::Evolution(Mps initial, const Truncation& truncation, Interrupt interrupt)
    : tensors_(std::move(initial.sites)),
      truncation_(truncation),
      discarded_(initial.discarded_weight),
      interrupt_(std::move(interrupt)) {
    for (cplx& z : tensors_[0].data) z *= initial.norm;
}

void Evolution::move_centre(int target) {
    while (centre_ < target) {
        detail::move_centre_right(tensors_, centre_, ws_);
        interrupt_.progress(static_cast<std::uint64_t>(tensors_[centre_].data.size()) * tensors_[centre_].right);
        ++centre_;
    }
    while (centre_ > target) {
        detail::move_centre_left(tensors_, centre_, ws_);
        interrupt_.progress(static_cast<std::uint64_t>(tensors_[centre_].data.size()) * tensors_[centre_].left);
        --centre_;
    }
}

void Evolution::apply_single(int site, const sv::Mat2& u) {
    Tensor& t = tensors_[site];
    const std::size_t left = t.left;
    for (int b = 0; b < t.right; ++b) {
        cplx* zero = t.data.data() + 2 * left * b;
        cplx* one = zero + left;
        for (std::size_t a = 0; a < left; ++a) {
            const cplx v0 = zero[a], v1 = one[a];
            zero[a] = u.m[0] * v0 + u.m[1] * v1;
            one[a] = u.m[2] * v0 + u.m[3] * v1;
        }
    }
}

void Evolution::apply_pair(int site, const sv::Mat4& u, bool centre_right) {
    if (centre_ < site) move_centre(site);
    if (centre_ > site + 1) move_centre(site + 1);
    Tensor& first = tensors_[site];
    Tensor& second = tensors_[site + 1];
    const int left = first.left, middle = first.right, right = second.right;
    const int rows = 2 * left, cols = 2 * right, k = std::min(rows, cols);
    // theta: rows "a s0", columns "s1 b".
    theta_.resize(static_cast<std::size_t>(rows) * cols);
    lapack::gemm('N', 'N', rows, cols, middle, 1.0, first.data.data(), rows, second.data.data(), middle, 0.0,
                 theta_.data(), rows);
    const std::size_t step0 = left, step1 = rows;  // offsets of s0 = 1 and s1 = 1
    for (int b = 0; b < right; ++b) {
        cplx* base = theta_.data() + static_cast<std::size_t>(rows) * 2 * b;
        for (int a = 0; a < left; ++a) {
            cplx* p[4] = {base + a, base + a + step0, base + a + step1, base + a + step0 + step1};
            const cplx v[4] = {*p[0], *p[1], *p[2], *p[3]};
            for (int out = 0; out < 4; ++out) {
                *p[out] =
                    u.m[4 * out] * v[0] + u.m[4 * out + 1] * v[1] + u.m[4 * out + 2] * v[2] + u.m[4 * out + 3] * v[3];
            }
        }
    }
    u_.resize(static_cast<std::size_t>(rows) * k);
    vt_.resize(static_cast<std::size_t>(k) * cols);
    s_.resize(k);
    detail::svd(rows, cols, theta_.data(), u_.data(), s_.data(), vt_.data(), ws_);
    const Kept kept = kept_values(s_.data(), k, truncation_);
    discarded_ = compose_discarded(discarded_, kept.discarded_fraction);
    const int r = kept.count;
    Tensor new_first(left, r), new_second(r, right);
    std::copy_n(u_.data(), static_cast<std::size_t>(rows) * r, new_first.data.data());
    for (int j = 0; j < cols; ++j) {
        std::copy_n(vt_.data() + static_cast<std::size_t>(k) * j, r,
                    new_second.data.data() + static_cast<std::size_t>(r) * j);
    }
    for (int g = 0; g < r; ++g) {
        const double weight = s_[g] * kept.scale;
        if (centre_right) {
            for (int j = 0; j < cols; ++j) new_second.data[g + static_cast<std::size_t>(r) * j] *= weight;
        } else {
            for (int i = 0; i < rows; ++i) new_first.data[i + static_cast<std::size_t>(rows) * g] *= weight;
        }
    }
    first = std::move(new_first);
    second = std::move(new_second);
    centre_ = centre_right ? site + 1 : site;
    interrupt_.progress(static_cast<std::uint64_t>(rows) * cols * (k + middle));
}

Mps Evolution::finish() { return canonicalize(std::move(tensors_), centre_, truncation_, discarded_, interrupt_); }

}  // namespace bvc::mps
