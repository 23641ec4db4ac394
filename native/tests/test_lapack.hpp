// The LAPACK of the C++ tests. The extension modules take SciPy's routines
// at import; the tests load a library of their own (the OpenBLAS of the
// scipy-openblas32 wheel, or a system LAPACK) and fill the same table.
#pragma once

namespace bvc::test {

// Fills bvc::lapack::table from the libraries the build named; exits the
// process with a message when one cannot be loaded or lacks a routine.
void load_test_lapack();

}  // namespace bvc::test
