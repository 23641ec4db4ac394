// The model's MPO from its terms, as TeNPy builds it, with each tensor filled in one pass.
//
// TeNPy's own path (MPOGraph.build_MPO -> MPO.from_grids -> npc.grid_outer)
// inserts the grid entries of a tensor one by one, and every insertion rescans
// all blocks stored so far. With the hundreds of MPO states per bond of a
// molecular Hamiltonian that rescanning is nearly all of the model's
// construction time. Here the same graph, state order, leg charges and
// operators are used; every block is collected once and the blocks are stored
// in TeNPy's sorted order, so the tensors are the same, entry for entry.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <array>
#include <map>
#include <vector>

#include "bind/conventions.hpp"
#include "mallorek.hpp"

namespace bvc::mallorek {

using namespace bvc::bind;
using namespace pybind11::literals;

namespace {

using IndexArray = py::array_t<py::ssize_t, py::array::c_style | py::array::forcecast>;
using BlockKey = std::array<py::ssize_t, 4>;

// npc keeps `_qdata` in np.lexsort order: the last column is the primary key.
struct LexsortOrder {
    bool operator()(const BlockKey& a, const BlockKey& b) const {
        return std::lexicographical_compare(a.rbegin(), a.rend(), b.rbegin(), b.rend());
    }
};

// Every index of a leg as (charge block, position inside the block).
struct LegIndex {
    std::vector<py::ssize_t> block;
    std::vector<py::ssize_t> offset;
    std::vector<py::ssize_t> block_size;
};

LegIndex index_leg(py::handle leg) {
    IndexArray slices(leg.attr("slices"));
    auto s = slices.unchecked<1>();
    LegIndex index;
    for (py::ssize_t b = 0; b + 1 < s.shape(0); ++b) {
        index.block_size.push_back(s(b + 1) - s(b));
        for (py::ssize_t i = s(b); i < s(b + 1); ++i) {
            index.block.push_back(b);
            index.offset.push_back(i - s(b));
        }
    }
    return index;
}

struct GridEntry {
    std::size_t row, column;
    py::object op;
};

// The npc.Array `grid_outer(grid, [leg_left, leg_right], qtotal, ['wL', 'wR'])` returns.
py::object assemble_tensor(py::handle npc, py::handle grid, py::handle leg_left, py::handle leg_right,
                           py::handle qtotal) {
    std::vector<GridEntry> entries;
    py::list dtypes;
    std::size_t row = 0;
    for (py::handle grid_row : grid) {
        std::size_t column = 0;
        for (py::handle op : grid_row) {
            if (!op.is_none()) {
                entries.push_back({row, column, py::reinterpret_borrow<py::object>(op)});
                dtypes.append(op.attr("dtype"));
            }
            ++column;
        }
        ++row;
    }
    if (entries.empty()) raise(PyExc_ValueError, "an MPO tensor of the model has no entries");

    py::object numpy = this_module().attr("np");
    py::object dtype = numpy.attr("result_type")(*dtypes);
    py::object first = entries.front().op;
    py::list legs;
    legs.append(leg_left);
    legs.append(leg_right);
    for (py::handle leg : first.attr("legs")) legs.append(leg);
    py::list labels;
    labels.append("wL");
    labels.append("wR");
    for (py::handle label : first.attr("_labels")) labels.append(label);
    py::object result = npc.attr("Array")(legs, dtype, qtotal, labels);

    const std::array<LegIndex, 4> index = {index_leg(legs[0]), index_leg(legs[1]), index_leg(legs[2]),
                                           index_leg(legs[3])};
    if (row != index[0].block.size()) raise(PyExc_ValueError, "MPO grid rows do not match the left leg");
    py::object zeros = numpy.attr("zeros");
    std::map<BlockKey, py::object, LexsortOrder> blocks;
    std::size_t filled = 0;
    for (const GridEntry& entry : entries) {
        if (++filled % 4096 == 0 && PyErr_CheckSignals() != 0) throw py::error_already_set();
        if (entry.column >= index[1].block.size()) {
            raise(PyExc_ValueError, "MPO grid columns do not match the right leg");
        }
        IndexArray qdata(entry.op.attr("_qdata"));
        auto q = qdata.unchecked<2>();
        py::list data = entry.op.attr("_data");
        const py::tuple position = py::make_tuple(index[0].offset[entry.row], index[1].offset[entry.column]);
        for (py::ssize_t r = 0; r < q.shape(0); ++r) {
            const BlockKey key = {index[0].block[entry.row], index[1].block[entry.column], q(r, 0), q(r, 1)};
            auto found = blocks.find(key);
            if (found == blocks.end()) {
                py::tuple shape = py::make_tuple(index[0].block_size[key[0]], index[1].block_size[key[1]],
                                                 index[2].block_size[key[2]], index[3].block_size[key[3]]);
                found = blocks.emplace(key, zeros(shape, "dtype"_a = dtype)).first;
            }
            found->second[position] = data[static_cast<std::size_t>(r)];
        }
    }

    py::list block_data;
    IndexArray qdata(std::vector<py::ssize_t>{static_cast<py::ssize_t>(blocks.size()), 4});
    auto q = qdata.mutable_unchecked<2>();
    py::ssize_t n = 0;
    for (const auto& [key, block] : blocks) {
        for (int axis = 0; axis < 4; ++axis) q(n, axis) = key[axis];
        block_data.append(block);
        ++n;
    }
    result.attr("_data") = block_data;
    result.attr("_qdata") = numpy.attr("asarray")(qdata, "dtype"_a = numpy.attr("intp"));
    result.attr("_qdata_sorted") = true;
    // Blocks that only received zeros are dropped: the tensor must hold the
    // blocks of the model's own build, no more, and the sweeps never carry them.
    result.attr("ipurge_zeros")(0.0);
    result.attr("test_sanity")();
    return result;
}

}  // namespace

py::object term_mpo(py::handle model, py::handle tol_zero) {
    py::object npc = py::module_::import("tenpy.linalg.np_conserved");
    py::object mpo_graph = import_name("tenpy.networks.mpo", "MPOGraph");
    py::object mpo_class = import_name("tenpy.networks.mpo", "MPO");
    py::object grid_insert_ops = import_name("tenpy.networks.mpo", "grid_insert_ops");

    // CouplingMPOModel.calc_H_MPO up to the graph.
    py::object onsite = model.attr("all_onsite_terms")();
    onsite.attr("remove_zeros")(tol_zero);
    py::object coupling = model.attr("all_coupling_terms")();
    coupling.attr("remove_zeros")(tol_zero);
    py::object lattice = model.attr("lat");
    py::object graph = mpo_graph.attr("from_terms")(py::make_tuple(onsite, coupling, model.attr("exp_decaying_terms")),
                                                    lattice.attr("mps_sites")(), lattice.attr("bc_MPS"),
                                                    "unit_cell_width"_a = lattice.attr("mps_unit_cell_width"));

    // MPOGraph.build_MPO with the leg charges it computes (so no projection of the end legs).
    graph.attr("test_sanity")();
    graph.attr("_set_ordered_states")();
    py::list grids = graph.attr("_build_grids")();
    py::list id_left, id_right;
    for (py::handle states : graph.attr("_ordered_states")) {
        id_left.append(states.attr("get")("IdL", py::none()));
        id_right.append(states.attr("get")("IdR", py::none()));
    }
    py::tuple charges = graph.attr("_calc_legcharges")(py::none());
    py::list legs = charges[0];
    py::list tensor_charges = charges[1];
    py::list sites = graph.attr("sites");
    py::list tensors;
    for (std::size_t i = 0; i < sites.size(); ++i) {
        py::object grid = grid_insert_ops(sites[i], grids[i]);
        tensors.append(assemble_tensor(npc, grid, legs[i], legs[i + 1].attr("conj")(), tensor_charges[i]));
    }
    py::object mpo = mpo_class(sites, tensors, graph.attr("bc"), id_left, id_right, graph.attr("max_range"),
                               "mps_unit_cell_width"_a = graph.attr("unit_cell_width"));

    mpo.attr("max_range") = coupling.attr("max_range")();
    mpo.attr("explicit_plus_hc") = model.attr("explicit_plus_hc");
    return mpo;
}

}  // namespace bvc::mallorek
