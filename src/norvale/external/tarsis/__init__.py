"""The Tarsis integration: analysis job, model builder, output parser and model objects."""

#: Namespace URI of every Tarsis XML document this kit reads or writes.
TARSIS_NAMESPACE = "urn:norvale:tarsis"
