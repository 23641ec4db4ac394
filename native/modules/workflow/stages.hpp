// The fixed order of the pipeline stages; each name is also the name of the
// stage function the workflow calls.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace bvc::workflow {

inline constexpr const char* kModuleName = "brimvale_chemistry.workflow";

inline constexpr std::array<const char*, 4> kStages = {
    "electronic_structure",
    "dmrg",
    "cvd_dmrg",
    "measurement_QASM",
};

inline constexpr std::size_t kElectronicStructure = 0;
inline constexpr std::size_t kDmrg = 1;
inline constexpr std::size_t kCvd = 2;
inline constexpr std::size_t kMeasurement = 3;

}  // namespace bvc::workflow
