"""Platform add-on services that the kit brings with it."""
