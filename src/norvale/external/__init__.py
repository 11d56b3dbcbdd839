"""Integration modules of the kit and their shared job machinery."""
