"""What a run leaves behind for its user: the run summary and the convergence figure."""
