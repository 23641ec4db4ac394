"""brimvale_chemistry: from a molecule to a circuit that prepares its electronic ground state.

Stages, in order: electronic structure (``brimvale_chemistry.molecule``), DMRG
(``brimvale_chemistry.dmrg``), classical variational disentanglement
(``brimvale_chemistry.corvinth``) and measurement
(``brimvale_chemistry.measurement``); ``brimvale_chemistry.workflow`` runs them
in order. Submodules are imported on demand.
"""
