// The command line of the workflow: options, demo presets and the run of `main`.
#include "command_line.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <utility>

#include "bind/conventions.hpp"
#include "core/runtime/defaults.hpp"
#include "opt_in_settings.hpp"

namespace bvc::workflow {

using namespace bvc::bind;

namespace {

constexpr const char* kMainDoc = "Small command-line entry point for direct library experimentation.";
constexpr const char* kDescription = "Brimvale Molecular DMRG";
// Workflow settings of the DMRG stage that the command line offers as --dmrg-….
constexpr std::array<const char*, 2> kDmrgSettings = {"dmrg_maxdim", "dmrg_max_sweeps"};

py::tuple atom(const char* symbol, py::object x, py::object y, py::object z) {
    return py::make_tuple(symbol, py::make_tuple(std::move(x), std::move(y), std::move(z)));
}

py::list water_geometry() {
    py::list geometry;
    geometry.append(atom("O", py::float_(0.0), py::float_(0.0), py::float_(0.0)));
    geometry.append(atom("H", py::float_(0.758602), py::float_(0.0), py::float_(0.504284)));
    geometry.append(atom("H", py::float_(-0.758602), py::float_(0.0), py::float_(0.504284)));
    return geometry;
}

// A chain of `atoms` hydrogen atoms 1.0 angstrom apart along z.
py::list hydrogen_chain(int atoms) {
    py::list geometry;
    for (int k = 0; k < atoms; ++k)
        geometry.append(atom("H", py::float_(0.0), py::float_(0.0), py::float_(static_cast<double>(k))));
    return geometry;
}

py::dict preset(py::list geometry, const char* basis, int active_occupied, int active_virtual, const char* desc) {
    py::dict record;
    record["geometry"] = std::move(geometry);
    record["basis"] = basis;
    record["active_occupied"] = active_occupied;
    record["active_virtual"] = active_virtual;
    record["desc"] = py::str(desc);
    return record;
}

// Characters the command line and the stages print beyond ASCII.
constexpr const char* kPrintedCharacters = "\u2080\u2081\u2082\u2086\u2192\u27e8\u03c8\u27e9\u00b1\u2014\u00e5\u00f6";

// Standard output whose encoding lacks those characters (latin-1, ASCII) and
// whose error handler fails on them ("strict", and the C locale's
// "surrogateescape", which only mends undecodable bytes), or nothing. A run
// would otherwise end at its first line with UnicodeEncodeError.
py::object stdout_needing_replacement() {
    py::object stream = py::module_::import("sys").attr("stdout");
    if (stream.is_none() || !py::hasattr(stream, "reconfigure")) return py::none();
    py::object errors = py::getattr(stream, "errors", py::none());
    py::object encoding = py::getattr(stream, "encoding", py::none());
    if (!PyUnicode_Check(encoding.ptr()) || !PyUnicode_Check(errors.ptr())) return py::none();
    try {
        py::str(kPrintedCharacters).attr("encode")(encoding, errors);
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_UnicodeError) && !error.matches(PyExc_LookupError)) throw;
        return stream;
    }
    return py::none();
}

py::object run_main(const ModuleNames& names);

// Runs `step`; a mistake of the user's that it raises (a value a check
// refuses, a file that cannot be read or written) ends the program with exit
// status 2, the status of an option error, so that scripts tell a user's
// mistake from a fault; in one line: the message, without usage
// or traceback. Anything else is a fault and keeps its traceback.
template <class Step>
py::object as_user_mistake(const py::object& parser, Step&& step) {
    try {
        return step();
    } catch (py::error_already_set& error) {
        const bool mistake = error.matches(PyExc_ValueError) || error.matches(PyExc_OSError);
        // A closed standard output is no mistake; the caller ends the run quietly.
        if (!mistake || error.matches(PyExc_BrokenPipeError)) throw;
        py::list lines;
        for (py::handle line : py::str(error.value()).attr("splitlines")()) {
            py::object stripped = line.attr("strip")();
            if (truth(stripped)) lines.append(stripped);
        }
        py::str message = py::str("; ").attr("join")(lines);
        parser.attr("exit")(2, py::str("{}: error: {}\n").format(parser.attr("prog"), message));
        throw;  // exit() raised SystemExit
    }
}

// Prints the "Demo: " line and builds the preset's Molecule.
py::object preset_molecule(const ModuleNames& names, const py::object& options) {
    py::object record = names["_DEMOS"][options.attr("demo")];
    py::print(py::str("Demo: ") + record["desc"]);

    // Every preset key but the description is a Molecule keyword, in record order.
    py::dict molecule_kwargs;
    for (auto item : py::dict(record)) {
        if (py::str(item.first).cast<std::string>() == "desc") continue;
        molecule_kwargs[item.first] = item.second;
    }
    return names["Molecule"](**molecule_kwargs);
}

// Options that describe the user's own molecule; they replace the preset.
void add_molecule_options(const py::object& parser, const py::object& path_type) {
    py::object add = parser.attr("add_argument");
    py::object int_type = py::type::of(py::int_());
    add("--xyz", py::arg("type") = path_type, py::arg("metavar") = "PATH",
        py::arg("help") = "your own molecule: an XYZ file in \u00e5ngstr\u00f6m (replaces --demo)");
    add("--basis", py::arg("help") = "basis set of the --xyz molecule (default: sto-3g)");
    add("--active-occupied", py::arg("type") = int_type, py::arg("help") = "active orbitals below the Fermi level");
    add("--active-virtual", py::arg("type") = int_type, py::arg("help") = "active orbitals above the Fermi level");
    add("--charge", py::arg("type") = int_type, py::arg("help") = "net charge of the --xyz molecule (default: 0)");
    add("--spin", py::arg("type") = int_type, py::arg("help") = "2S of the --xyz molecule (default: 0)");
}

// The --xyz molecule and its description, or None when no --xyz was given.
// Misused options and malformed files are the user's mistakes: both end the
// process with exit status 2 (a file's through the caller).
std::optional<std::pair<py::object, py::str>> molecule_from_xyz(const ModuleNames& names, const py::object& parser,
                                                                const py::object& options) {
    const char* const described[] = {"basis", "active_occupied", "active_virtual", "charge", "spin"};
    if (options.attr("xyz").is_none()) {
        for (const char* name : described) {
            if (!options.attr(name).is_none()) {
                parser.attr("error")(
                    "--basis, --active-occupied, --active-virtual, --charge and --spin "
                    "describe an --xyz molecule; give --xyz too");
            }
        }
        return std::nullopt;
    }
    if (options.attr("active_occupied").is_none() || options.attr("active_virtual").is_none()) {
        parser.attr("error")("--xyz needs --active-occupied and --active-virtual");
    }
    // A malformed or unreadable file (XyzFormatError, OSError) is the user's
    // mistake, reported by the caller in one line.
    py::object file = py::module_::import("brimvale_chemistry.molecule.xyz").attr("read_xyz")(options.attr("xyz"));
    py::dict kwargs;
    kwargs["geometry"] = file.attr("geometry");
    kwargs["basis"] = options.attr("basis").is_none() ? py::str("sto-3g") : options.attr("basis");
    kwargs["active_occupied"] = options.attr("active_occupied");
    kwargs["active_virtual"] = options.attr("active_virtual");
    if (!options.attr("charge").is_none()) kwargs["charge"] = options.attr("charge");
    if (!options.attr("spin").is_none()) kwargs["spin"] = options.attr("spin");
    py::object molecule = names["Molecule"](**kwargs);
    return std::make_pair(molecule, py::str(molecule.attr("description")));
}

// A reader that stopped reading (`| head`) ends the run quietly: standard
// output goes to the null device, so that nothing more fails on the closed
// pipe, and the program exits with status 1.
py::object run_main_until_pipe_closes(const ModuleNames& names) {
    try {
        return run_main(names);
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_BrokenPipeError)) throw;
        py::module_ os = py::module_::import("os");
        py::object null_device = os.attr("open")(os.attr("devnull"), os.attr("O_WRONLY"));
        os.attr("dup2")(null_device, py::module_::import("sys").attr("stdout").attr("fileno")());
        PyErr_SetObject(PyExc_SystemExit, py::int_(1).ptr());
        throw py::error_already_set();
    }
}

py::object main(const ModuleNames& names) {
    // For this run only, what the output cannot encode is replaced ("?")
    // instead of stopping the program; the stream is put back afterwards.
    py::object stream = stdout_needing_replacement();
    if (stream.is_none()) return run_main_until_pipe_closes(names);
    const py::object own_errors = stream.attr("errors");
    stream.attr("reconfigure")(py::arg("errors") = "replace");
    try {
        run_main_until_pipe_closes(names);
    } catch (...) {
        stream.attr("reconfigure")(py::arg("errors") = own_errors);
        throw;
    }
    stream.attr("reconfigure")(py::arg("errors") = own_errors);
    return py::none();
}

py::object run_main(const ModuleNames& names) {
    py::object path_type = names["Path"];
    py::object parser = names["argparse"].attr("ArgumentParser")(py::arg("description") = kDescription);
    py::list demo_keys(names["_DEMOS"]);
    parser.attr("add_argument")("--demo", py::arg("choices") = demo_keys, py::arg("default") = "h2");
    parser.attr("add_argument")("--shots", py::arg("type") = py::type::of(py::int_()),
                                py::arg("default") = defaults::kShots);
    parser.attr("add_argument")("--layers", py::arg("type") = py::type::of(py::int_()),
                                py::arg("default") = py::none());
    parser.attr("add_argument")("--workdir", py::arg("type") = path_type, py::arg("default") = path_type.attr("cwd")());
    parser.attr("add_argument")("--target", py::arg("choices") = names["WORKFLOW_STAGES"],
                                py::arg("default") = "measurement_QASM");
    parser.attr("add_argument")("--seed", py::arg("type") = py::type::of(py::int_()),
                                py::arg("default") = defaults::kSeed);
    // The DMRG stage's settings, passed on only when given: a long chain
    // whose sweeps never settle at maxdim=100 needs no hundred of them.
    for (const char* setting : kDmrgSettings) {
        std::string option = std::string("--") + setting;
        std::replace(option.begin(), option.end(), '_', '-');
        parser.attr("add_argument")(
            option, py::arg("dest") = setting, py::arg("type") = py::type::of(py::int_()),
            py::arg("default") = py::none(),
            py::arg("help") = std::string("the workflow's ") + setting + " (default: as there)");
    }
    add_opt_in_options(parser);
    add_molecule_options(parser, path_type);
    py::object options = parser.attr("parse_args")();

    // Everything the run will need is checked before its first stage.
    py::object workflow = as_user_mistake(parser, [&] {
        py::object molecule;
        if (auto own = molecule_from_xyz(names, parser, options)) {
            py::print(py::str("Molecule: ") + own->second);
            molecule = own->first;
        } else {
            molecule = preset_molecule(names, options);
        }
        py::dict keywords = opt_in_workflow_keywords(options);
        for (const char* setting : kDmrgSettings) {
            py::object value = options.attr(setting);
            if (!value.is_none()) keywords[setting] = value;
        }
        py::object built = names["MolecularDMRGWorkflow"](
            molecule, py::arg("shots") = options.attr("shots"), py::arg("layers") = options.attr("layers"),
            py::arg("seed") = options.attr("seed"), py::arg("workdir") = options.attr("workdir"), **keywords);
        py::module_::import("brimvale_chemistry.run_checks")
            .attr("check_before_first_stage")(built, names["WORKFLOW_STAGES"].attr("index")(options.attr("target")));
        return built;
    });
    as_user_mistake(parser, [&] { return workflow.attr("run")(py::arg("target") = options.attr("target")); });
    return py::none();
}

}  // namespace

py::dict make_demos() {
    py::list h2;
    h2.append(atom("H", py::int_(0), py::int_(0), py::int_(0)));
    h2.append(atom("H", py::int_(0), py::int_(0), py::float_(0.7414)));
    py::list lih;
    lih.append(atom("Li", py::int_(0), py::int_(0), py::int_(0)));
    lih.append(atom("H", py::int_(0), py::int_(0), py::float_(1.5949)));

    py::dict demos;
    demos["h2"] = preset(h2, "sto-3g", 1, 1, "H\u2082/sto-3g CAS(2e,2o) \u2192 4 qubits");
    demos["lih"] = preset(lih, "sto-3g", 2, 2, "LiH/sto-3g CAS(4e,4o) \u2192 8 qubits");
    demos["h2o-small"] = preset(water_geometry(), "sto-3g", 2, 2, "H\u2082O/sto-3g CAS(4e,4o) \u2192 8 qubits");
    demos["h2o"] = preset(water_geometry(), "6-31g", 3, 4, "H\u2082O/6-31g CAS(6e,7o) \u2192 14 qubits");
    // Larger molecules, every orbital active: their dense state needs
    // 16 MiB, 256 MiB and 64 GiB; run them with --state mps.
    demos["h10"] = preset(hydrogen_chain(10), "sto-3g", 5, 5, "H\u2081\u2080/sto-3g CAS(10e,10o) \u2192 20 qubits");
    demos["h12"] = preset(hydrogen_chain(12), "sto-3g", 6, 6, "H\u2081\u2082/sto-3g CAS(12e,12o) \u2192 24 qubits");
    demos["h16"] = preset(hydrogen_chain(16), "sto-3g", 8, 8, "H\u2081\u2086/sto-3g CAS(16e,16o) \u2192 32 qubits");
    return demos;
}

void def_main(py::module_& module, const ModuleNames& names) {
    def_function(module, "main", {}, kMainDoc, [names](const Arguments&) { return main(names); });
}

}  // namespace bvc::workflow
