"""The convergence figure is a valid PNG of a readable size, with or without energies."""

import io

from PIL import Image

from brimvale_chemistry.report.figure import render_convergence_png


def test_png_with_and_without_energy_panel():
    common = dict(
        title="H\u2082/sto-3g CAS(2e,2o) \u2192 4 qubits",
        overlaps=[0.99, 1.0, 1.0],
        reference_label="CASCI",
        cnot_counts=[0, 6, 12],
    )
    both = Image.open(
        io.BytesIO(render_convergence_png(energies=[-1.11, -1.137, -1.137], reference_energy=-1.137, **common))
    )
    single = Image.open(io.BytesIO(render_convergence_png(energies=[None] * 3, reference_energy=None, **common)))
    assert both.format == single.format == "PNG"
    assert both.size[0] == single.size[0] >= 800
    assert both.size[1] > 1.5 * single.size[1] >= 400
    assert both.info.get("Software") == "brimvale_chemistry"
