"""The platform's kinds of value that Python has no type for: an omitted argument, Empty, a 16-bit
Integer, a Single, and a by-reference argument."""


class _Marker:
    def __init__(self, name):
        self._name = name

    def __repr__(self):
        return "desk." + self._name


Missing = _Marker("Missing")
Empty = _Marker("Empty")


class Integer(int):
    """A 16-bit Integer argument."""


class Single(float):
    """A Single (32-bit) argument."""


class ByRef:
    """A by-reference argument: after the call, .value is what the callee wrote."""

    def __init__(self, value=Empty):
        self.value = value

    def __repr__(self):
        return "desk.ByRef(%r)" % (self.value,)
