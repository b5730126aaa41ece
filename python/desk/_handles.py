"""The handle tables, below every module that converts values or makes objects: which handles
stand for objects Python implements (host objects, event sinks), and the two classes that a
handle becomes or that is lent as one. _objects and _host enter their classes here as they are
imported, so that _convert reaches them without importing upward."""
import itertools

hosts = {}           # key -> Python object (or an event sink) that the library calls back
host_by_handle = {}  # handle -> key, while the library holds the object
handle_of_host = {}  # key -> handle
keys = itertools.count(1)


class _NotImported:
    """Stands for a class whose module is not imported yet: nothing is an instance of it."""


object_class = _NotImported  # desk.Object, entered by _objects: what a handle of the library becomes
host_class = _NotImported    # desk.HostObject, entered by _host: lent to the library for a call
