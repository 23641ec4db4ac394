// The opt-in settings of the workflow: their checks, options and hand-over to the stages.
#include "opt_in_settings.hpp"

#include <string>
#include <utility>

#include "core/runtime/defaults.hpp"
#include "stages.hpp"

namespace bvc::workflow {

using namespace bvc::bind;

namespace {

enum class Kind {
    kOptionalCount,  // None (the default) or an integer
    kFlag,           // False (the default) or True, by truth value
    kChoice,         // one of `choices`, the first being the default
    kOptionalFloat,  // None (the default) or a number, kept as a float
};

struct OptInSetting {
    const char* keyword;  // workflow keyword and attribute
    const char* option;   // command-line option
    std::string help;     // its help text
    Kind kind;
    std::vector<const char*> choices;
    // The stages that receive it, each under its keyword there.
    std::vector<std::pair<std::size_t, const char*>> targets;
    // Another setting and the value it must have for this one to be set
    // (checked at construction, before any stage runs); none if null.
    const char* needs_keyword = nullptr;
    const char* needs_value = nullptr;
    // A float setting's largest value (none if 0); every float must be positive.
    double most = 0.0;
};

const std::vector<OptInSetting>& table() {
    static const std::vector<OptInSetting> settings = {
        {"threads",
         "--threads",
         "worker threads of the circuit synthesis (default: every available core)",
         Kind::kOptionalCount,
         {},
         {{kCvd, "threads"}}},
        {"cvd_gradient",
         "--gradient",
         "gradient of the disentangler objective",
         Kind::kChoice,
         {"finite-difference", "analytic"},
         {{kCvd, "gradient"}}},
        {"cvd_compact",
         "--compact",
         "emit each disentangler with at most three CNOTs",
         Kind::kFlag,
         {},
         {{kCvd, "compact"}}},
        {"cvd_refine",
         "--refine",
         "optimise all circuit parameters jointly after the last layer",
         Kind::kFlag,
         {},
         {{kCvd, "refine"}}},
        // The measurement stage learns of it through its `backend` (see measurement_backend).
        {"state",
         "--state",
         "how the ground state is held: a dense vector, or a matrix product state for large "
         "molecules",
         Kind::kChoice,
         {"dense", "mps"},
         {{kDmrg, "state"}, {kCvd, "state"}}},
        {"mps_max_bond",
         "--max-bond",
         "largest bond dimension of the qubit matrix product states: the DMRG state handed on, the circuit "
         "synthesis and the measurement (--state mps only; default: exact, the last two capped at " +
             std::to_string(bvc::defaults::kMpsMaxBond) + ")",
         Kind::kOptionalCount,
         {},
         {{kDmrg, "max_bond"}, {kCvd, "max_bond"}, {kMeasurement, "max_bond"}},
         "state",
         "mps"},
        // With basis-rotation the measurement also receives the active-space integrals (measurement_keywords).
        {"measurement_grouping",
         "--grouping",
         "how the measurement groups the Hamiltonian: qubit-wise commuting Pauli terms, or one orbital "
         "rotation per factor of the two-electron integrals",
         Kind::kChoice,
         {"qubit-wise", "basis-rotation"},
         {{kMeasurement, "grouping"}}},
        {"measurement_total_shots",
         "--total-shots",
         "a total shot budget spread over the measurement groups by weight (default: --shots per group)",
         Kind::kOptionalCount,
         {},
         {{kMeasurement, "total_shots"}}},
        {"cvd_target_overlap",
         "--target-overlap",
         "add layers (at most --layers) until the circuit's overlap with the ground state reaches this value, "
         "refining the whole circuit after each; implies --compact",
         Kind::kOptionalFloat,
         {},
         {{kCvd, "target_overlap"}},
         nullptr,
         nullptr,
         1.0},
        {"cvd_max_cnots",
         "--max-cnots",
         "the best circuit of at most this many CNOTs: layers (at most --layers) are added while they fit, "
         "refining the whole circuit after each; implies --compact",
         Kind::kOptionalCount,
         {},
         {{kCvd, "max_cnots"}}},
        {"cvd_refine_seconds",
         "--refine-seconds",
         "seconds the refinements of --target-overlap or --max-cnots may take together, shared by the layers "
         "that may still come, the last taking nine shares (default: each until it converges)",
         Kind::kOptionalFloat,
         {},
         {{kCvd, "refine_seconds"}}},
    };
    return settings;
}

py::object default_value(const OptInSetting& s) {
    switch (s.kind) {
        case Kind::kOptionalCount:
        case Kind::kOptionalFloat: return py::none();
        case Kind::kFlag: return py::bool_(false);
        case Kind::kChoice: return py::str(s.choices.front());
    }
    return py::none();
}

// "'a' or 'b'", "'a', 'b' or 'c'".
std::string quoted_alternatives(const std::vector<const char*>& choices) {
    std::string text;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (i > 0) text += i + 1 == choices.size() ? " or " : ", ";
        text += std::string("'") + choices[i] + "'";
    }
    return text;
}

py::object convert(const OptInSetting& s, const py::object& value) {
    switch (s.kind) {
        case Kind::kOptionalCount:
            return value.is_none() ? py::object(py::none()) : py::object(to_int(value, s.keyword));
        case Kind::kOptionalFloat: {
            if (value.is_none()) return py::none();
            PyNumberMethods* nb = Py_TYPE(value.ptr())->tp_as_number;
            if (nb == nullptr || (nb->nb_float == nullptr && nb->nb_index == nullptr)) {
                raise_incorrect_type(s.keyword, "float", value);
            }
            return py::float_(to_float(value));
        }
        case Kind::kFlag: {
            const int truth = PyObject_IsTrue(value.ptr());
            if (truth < 0) throw py::error_already_set();
            return py::bool_(truth != 0);
        }
        case Kind::kChoice: {
            py::str text = require_str(value, s.keyword);
            for (const char* choice : s.choices) {
                if (text.equal(py::str(choice))) return text;
            }
            raise(PyExc_ValueError, std::string(s.keyword) + " must be " + quoted_alternatives(s.choices));
        }
    }
    return value;
}

bool differs_from_default(const OptInSetting& s, const py::object& value) {
    const py::object fallback = default_value(s);
    if (fallback.is_none()) return !value.is_none();
    return !value.equal(fallback);
}

}  // namespace

std::vector<Param> opt_in_params() {
    std::vector<Param> params;
    for (const OptInSetting& s : table()) params.push_back(kwonly(s.keyword, default_value(s)));
    return params;
}

std::vector<py::object> convert_opt_in_settings(const Arguments& a, std::size_t first) {
    std::vector<py::object> values;
    for (std::size_t i = 0; i < table().size(); ++i) values.push_back(convert(table()[i], a[first + i]));
    for (std::size_t i = 0; i < table().size(); ++i) {
        const OptInSetting& s = table()[i];
        if (!differs_from_default(s, values[i])) continue;
        // Every count here is of something there must be at least one of;
        // refused now rather than by its stage, hours into a run.
        if (s.kind == Kind::kOptionalCount && values[i] < py::int_(1)) {
            raise(PyExc_ValueError, std::string(s.keyword) + " must be a positive integer or None");
        }
        if (s.kind == Kind::kOptionalFloat) {
            const double value = to_float(values[i]);
            if (s.most > 0.0 && !(value > 0.0 && value <= s.most)) {
                raise(PyExc_ValueError, std::string(s.keyword) + " must be in (0, " +
                                            py::cast<std::string>(py::repr(py::float_(s.most))) + "] or None");
            }
            if (!(value > 0.0)) raise(PyExc_ValueError, std::string(s.keyword) + " must be positive or None");
        }
        if (s.needs_keyword == nullptr) continue;
        for (std::size_t j = 0; j < table().size(); ++j) {
            if (std::string(table()[j].keyword) == s.needs_keyword && !values[j].equal(py::str(s.needs_value))) {
                raise(PyExc_ValueError,
                      std::string(s.keyword) + " applies to " + s.needs_keyword + "='" + s.needs_value + "' only");
            }
        }
    }
    // The time budget is that of the refinements the quality goals bring.
    const auto value_of = [&](const char* keyword) {
        for (std::size_t i = 0; i < table().size(); ++i) {
            if (std::string(table()[i].keyword) == keyword) return values[i];
        }
        return py::object(py::none());
    };
    if (!value_of("cvd_refine_seconds").is_none() && value_of("cvd_target_overlap").is_none() &&
        value_of("cvd_max_cnots").is_none()) {
        raise(PyExc_ValueError, "cvd_refine_seconds applies with cvd_target_overlap or cvd_max_cnots only");
    }
    return values;
}

void store_opt_in_settings(const py::object& self, const std::vector<py::object>& values) {
    for (std::size_t i = 0; i < table().size(); ++i) py::setattr(self, table()[i].keyword, values[i]);
}

py::dict opt_in_stage_keywords(const py::object& self, std::size_t stage) {
    py::dict keywords;
    for (const OptInSetting& s : table()) {
        for (const auto& [target, keyword] : s.targets) {
            if (target != stage) continue;
            py::object value = self.attr(s.keyword);
            if (differs_from_default(s, value)) keywords[keyword] = value;
        }
    }
    return keywords;
}

py::dict measurement_keywords(const py::object& self, const py::object& structure) {
    py::dict keywords = opt_in_stage_keywords(self, kMeasurement);
    py::object grouping = self.attr("measurement_grouping");
    if (grouping.equal(py::str("basis-rotation"))) {
        keywords["integrals"] =
            py::module_::import("brimvale_chemistry.measurement").attr("active_space_integrals")(structure);
    }
    return keywords;
}

py::object measurement_backend(const py::object& self) {
    py::object state = self.attr("state");
    return state.equal(py::str("mps")) ? py::object(py::str("mps")) : py::object(self.attr("backend"));
}

void add_opt_in_options(const py::object& parser) {
    py::object add = parser.attr("add_argument");
    for (const OptInSetting& s : table()) {
        switch (s.kind) {
            case Kind::kOptionalCount:
                add(s.option, py::arg("dest") = s.keyword, py::arg("type") = py::type::of(py::int_()),
                    py::arg("default") = py::none(), py::arg("help") = s.help);
                break;
            case Kind::kOptionalFloat:
                add(s.option, py::arg("dest") = s.keyword, py::arg("type") = py::type::of(py::float_()),
                    py::arg("default") = py::none(), py::arg("help") = s.help);
                break;
            case Kind::kFlag:
                add(s.option, py::arg("dest") = s.keyword, py::arg("action") = "store_true", py::arg("help") = s.help);
                break;
            case Kind::kChoice: {
                py::list choices;
                for (const char* choice : s.choices) choices.append(py::str(choice));
                add(s.option, py::arg("dest") = s.keyword, py::arg("choices") = choices,
                    py::arg("default") = default_value(s), py::arg("help") = s.help);
                break;
            }
        }
    }
}

py::dict opt_in_workflow_keywords(const py::object& options) {
    py::dict keywords;
    for (const OptInSetting& s : table()) {
        py::object value = options.attr(s.keyword);
        if (differs_from_default(s, value)) keywords[s.keyword] = value;
    }
    return keywords;
}

}  // namespace bvc::workflow
