"""Small geometric value types."""

from __future__ import annotations

import math
from typing import Iterator

__all__ = ["Vector"]


class Vector:
    """A three-component vector (x, y, z)."""

    __slots__ = ("x", "y", "z")

    def __init__(self, x: float, y: float, z: float) -> None:
        self.x = x
        self.y = y
        self.z = z

    def __repr__(self) -> str:
        return f"Vector({self.x!r}, {self.y!r}, {self.z!r})"

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Vector):
            return NotImplemented
        return (self.x, self.y, self.z) == (other.x, other.y, other.z)

    __hash__ = None  # type: ignore[assignment]  # pyright: ignore[reportAssignmentType]  # mutable value type

    def __iter__(self) -> Iterator[float]:
        yield self.x
        yield self.y
        yield self.z

    def __add__(self, other: Vector) -> Vector:
        return Vector(self.x + other.x, self.y + other.y, self.z + other.z)

    def __sub__(self, other: Vector) -> Vector:
        return Vector(self.x - other.x, self.y - other.y, self.z - other.z)

    def __mul__(self, factor: float) -> Vector:
        return Vector(self.x * factor, self.y * factor, self.z * factor)

    __rmul__ = __mul__

    def __truediv__(self, divisor: float) -> Vector:
        return Vector(self.x / divisor, self.y / divisor, self.z / divisor)

    def __neg__(self) -> Vector:
        return Vector(-self.x, -self.y, -self.z)

    def dot(self, other: Vector) -> float:
        return self.x * other.x + self.y * other.y + self.z * other.z

    def cross(self, other: Vector) -> Vector:
        return Vector(
            self.y * other.z - self.z * other.y,
            self.z * other.x - self.x * other.z,
            self.x * other.y - self.y * other.x,
        )

    def magnitude(self) -> float:
        return math.sqrt(self.dot(self))

    def normalize(self) -> Vector:
        """The unit vector of the same direction; ValueError for the zero vector."""
        length = self.magnitude()
        if length == 0:
            raise ValueError("cannot normalize a zero-length vector")
        return self / length

    def to_list(self) -> list[float]:
        return [self.x, self.y, self.z]
