"""Command-line entry of the package: ``python -m brimvale_chemistry`` and ``brimvale-chemistry``.

The command line itself is :func:`brimvale_chemistry.workflow.main`; the
workflow is an extension module, which ``python -m`` cannot run directly, so
both entry points hand over to it here.
"""

import sys

from . import workflow


def main() -> None:
    """Parse the process's command line and run the chosen demo through the workflow."""
    workflow.main()


if __name__ == "__main__":
    # Usage and error texts name the command the user typed, not this file.
    sys.argv[0] = "python -m brimvale_chemistry"
    main()
