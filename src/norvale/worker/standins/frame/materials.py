"""Materials by name: structural steels and the concrete strength classes.

Steel S235 ... S460: E = 210 GPa, Poisson 0.3 (G = E / 2.6), expansion 1.2e-5 /K, 7850 kg/m3.
Concrete C12/15 ... C90/105: E = Ecm of EN 1992-1-1 Table 3.1 (the table's rounded values),
Poisson 0.2 (G = E / 2.4), expansion 1.0e-5 /K, 2500 kg/m3.
A concrete object of the model with the same name overrides what it gives (e_modulus, poisson,
g_modulus, thermal_expansion, unit_mass).
"""

from __future__ import annotations

from dataclasses import dataclass, replace
from typing import Mapping, Optional

from .errors import AnalysisRefused


@dataclass(frozen=True)
class Material:
    name: str
    E: float        # Pa
    G: float        # Pa
    alpha: float    # 1/K
    density: float  # kg/m3


_STEEL = ("S235", "S275", "S355", "S420", "S460")
# EN 1992-1-1 Table 3.1, Ecm in GPa
_ECM = {"C12/15": 27, "C16/20": 29, "C20/25": 30, "C25/30": 31, "C30/37": 33, "C35/45": 34, "C40/50": 35,
        "C45/55": 36, "C50/60": 37, "C55/67": 38, "C60/75": 39, "C70/85": 41, "C80/95": 42, "C90/105": 44}

MATERIALS: dict[str, Material] = {}
for _name in _STEEL:
    MATERIALS[_name] = Material(_name, 210e9, 210e9 / 2.6, 1.2e-5, 7850.0)
for _name, _ecm in _ECM.items():
    MATERIALS[_name] = Material(_name, _ecm * 1e9, _ecm * 1e9 / 2.4, 1.0e-5, 2500.0)


def _number(value: Optional[str]) -> Optional[float]:
    return None if value is None or value == "" else float(value)


def material(name: Optional[str], overrides: Mapping[str, Mapping[Optional[str], Optional[str]]],
             user: str) -> Material:
    """The material called `name`; `user` names the object that refers to it, for the message."""
    key = (name or "").strip()
    base = MATERIALS.get(key) or MATERIALS.get(key.upper())
    row = overrides.get(key)
    if base is None and row is None:
        raise AnalysisRefused(f"unknown material {name!r} (of {user}): known are steel {', '.join(_STEEL)} "
                              "and concrete C12/15 ... C90/105")
    if row is None:
        assert base is not None
        return base
    E = _number(row.get("e_modulus"))
    nu = _number(row.get("poisson"))
    G = _number(row.get("g_modulus"))
    alpha = _number(row.get("thermal_expansion"))
    density = _number(row.get("unit_mass"))
    if base is None:
        if E is None:
            raise AnalysisRefused(f"unknown material {name!r} (of {user}): its concrete object gives no e_modulus")
        base = Material(key, E, E / 2.4, 1.0e-5, 2500.0)
    if E is not None and G is None:
        G = E / (2.0 * (1.0 + nu)) if nu is not None else E * base.G / base.E
    elif E is None and nu is not None and G is None:
        G = base.E / (2.0 * (1.0 + nu))
    return replace(base, E=E if E is not None else base.E, G=G if G is not None else base.G,
                   alpha=alpha if alpha is not None else base.alpha,
                   density=density if density is not None else base.density)
