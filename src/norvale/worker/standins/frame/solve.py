"""Assembly, the linear solution and the results of every load case and combination."""

from __future__ import annotations

import os
import sys
from dataclasses import dataclass
from typing import Any

import numpy as np
import scipy.sparse as sp

from . import elements as el
from .errors import AnalysisRefused
from .model import DOF_NAMES, G_ACC, Frame, LineLoads

#: From this many unknowns on, PARDISO (Intel's MKL, through pypardiso) factorises: several times faster
#: than CHOLMOD through cholespy on building frames; below it, loading MKL and starting its threads
#: costs more than the whole factorisation with CHOLMOD (bench/bench_frame.py, docs/tarsis-results.md).
PARDISO_FROM = 20_000


def _pardiso():
    if "PYPARDISO_MKL_RT" not in os.environ:
        # the MKL wheel puts its runtime in the environment's lib; naming it spares pypardiso its
        # search of the whole environment's tree (seconds in a venv of many packages)
        import glob

        found = sorted(glob.glob(os.path.join(sys.prefix, "lib", "libmkl_rt.so*")), key=len)
        if found:
            os.environ["PYPARDISO_MKL_RT"] = found[0]
    try:
        import pypardiso
    except ImportError:  # pragma: no cover - the venv installs it
        return None
    return pypardiso
try:  # CHOLMOD, through cholespy's self-contained wheels
    import cholespy as _cholespy
except ImportError:  # pragma: no cover
    _cholespy = None
CholeskySolverD: Any = getattr(_cholespy, "CholeskySolverD", None)
MatrixType: Any = getattr(_cholespy, "MatrixType", None)


@dataclass
class Beams:
    """What the analysis keeps per beam to give the internal forces."""
    k: np.ndarray          # (m, 12, 12) local stiffness of the beam itself (at its axis)
    # the beams with a hinge or an eccentricity, and for them the maps of node DOFs (local, 12) to
    # beam-end DOFs: b = C n + D p; every other beam's ends are its nodes (C = I, D = 0)
    special: np.ndarray    # (s,) beam indices
    C: np.ndarray          # (s, 12, 12)
    D: np.ndarray          # (s, 12, 12) applies to the beam's own equivalent loads
    loads: np.ndarray      # (ncases, m, 12) equivalent end loads at the beam's ends (local)


def _condense(k: np.ndarray, release: np.ndarray, ecc: np.ndarray):
    """Hinge springs and eccentricity folded into node stiffness. Returns K_n (m,12,12) on node DOFs
    (local axes at the node line), C, D with beam-end DOFs b = C n + D p, and the map of beam loads
    p to node loads, P (m,12,12): p_n = P p."""
    m = k.shape[0]
    eye = np.broadcast_to(np.eye(12), (m, 12, 12))
    # eccentricity: beam-end translations from the node's rotation about an offset ez along local z
    E = np.array(eye)
    E[:, 0, 4] = ecc
    E[:, 1, 3] = -ecc
    E[:, 6, 10] = ecc
    E[:, 7, 9] = -ecc
    C = np.array(eye)
    D = np.zeros((m, 12, 12))
    Kb = np.array(k)
    Pb = np.array(eye)
    released = ~np.isinf(release)
    # the beams grouped by their pattern of released DOFs, each pattern coded as the bits of an int
    codes = released.astype(np.int64) @ (1 << np.arange(12, dtype=np.int64))
    codes_used, inverse = np.unique(codes, return_inverse=True)
    patterns = ((codes_used[:, None] >> np.arange(12)) & 1).astype(bool)
    for pi, pattern in enumerate(patterns):
        if not pattern.any():
            continue
        rows = np.nonzero(inverse == pi)[0]
        r = np.nonzero(pattern)[0]
        u = np.nonzero(~pattern)[0]
        kk = k[rows]
        S = release[rows][:, r]                                   # (g, nr)
        A = kk[:, r[:, None], r[None, :]] + S[:, :, None] * np.eye(len(r))
        Ainv = np.linalg.pinv(A, hermitian=True)
        # b_r = Ainv (S n_r - k_ru n_u + p_r)
        kru = kk[:, r[:, None], u[None, :]]
        Cg = np.zeros((len(rows), 12, 12))
        Cg[:, u, u] = 1.0
        Cg[:, r[:, None], u[None, :]] = -Ainv @ kru
        Cg[:, r[:, None], r[None, :]] = Ainv * S[:, None, :]
        Dg = np.zeros((len(rows), 12, 12))
        Dg[:, r[:, None], r[None, :]] = Ainv
        C[rows] = Cg
        D[rows] = Dg
        # condensed stiffness and load map: energy of the beam and springs as a function of n
        Kc = np.transpose(Cg, (0, 2, 1)) @ kk @ Cg
        diff = Cg[:, r, :] - np.eye(12)[r][None]                   # b_r - n_r per unit n
        spring = np.transpose(diff, (0, 2, 1)) @ (S[:, :, None] * diff)
        Kb[rows] = Kc + spring
        # loads on the beam's ends reach the nodes as C^T p (stationarity of the energy in b_r)
        Pb[rows] = np.transpose(Cg, (0, 2, 1))
    Et = np.transpose(E, (0, 2, 1))
    return Et @ Kb @ E, C @ E, D, Et @ Pb


def _global(k_local: np.ndarray, R: np.ndarray) -> np.ndarray:
    """(m, 12, 12) matrices in local axes turned to global ones: T^T k T, T four blocks R."""
    m = k_local.shape[0]
    right = k_local.reshape(m, 4, 3, 4, 3) @ R[:, None, None]                 # k T
    Rt = np.ascontiguousarray(np.transpose(R, (0, 2, 1)))
    return (Rt[:, None] @ right.reshape(m, 4, 3, 12)).reshape(m, 12, 12)      # T^T (k T)


def _to_local(vectors: np.ndarray, R: np.ndarray) -> np.ndarray:
    """(..., m, 12) global -> local per beam."""
    shape = vectors.shape
    v = vectors.reshape(shape[:-1] + (4, 3))
    return (v @ np.transpose(R, (0, 2, 1))).reshape(shape)          # rows b: R v_b


def _to_global(vectors: np.ndarray, R: np.ndarray) -> np.ndarray:
    shape = vectors.shape
    v = vectors.reshape(shape[:-1] + (4, 3))
    return (v @ R).reshape(shape)                                   # rows b: R^T v_b


class Solution:
    """Displacements of all nodes, reactions of the supports and the beams' end forces, per load case."""

    def __init__(self, frame: Frame, displacements: np.ndarray, reactions: np.ndarray, end_forces: np.ndarray,
                 beams: Beams):
        self.frame = frame
        self.displacements = displacements   # (ncases, n, 6) global
        self.reactions = reactions           # (ncases, nsupports, 6) global
        self.end_forces = end_forces         # (ncases, m, 12) local: what the nodes exert on each beam
        self.beams = beams


def _beam_loads(frame: Frame, py, pz) -> np.ndarray:
    m, nc = len(frame.beam_names), len(frame.cases)
    loads = np.zeros((nc, m, 12))
    L = frame.length
    if frame.points:
        c, b, x, f = frame.point_columns()
        np.add.at(loads, (c, b), el.point_loads(L[b], py[b], pz[b], x, f))
    lines = frame.lines
    for case, direction in frame.self_weight:
        q = (frame.density * G_ACC * frame.A)[:, None] * direction[None, :]      # global, per length
        local = np.einsum("mij,mj->mi", frame.rotations, q)
        full = np.concatenate([local, np.zeros_like(local)], axis=1)
        lines = lines + LineLoads(np.full(m, case, dtype=np.int64), np.arange(m, dtype=np.int64), np.zeros(m),
                                  L.astype(float), full, full.copy())
    if len(lines):
        c, b = lines.case, lines.beam
        np.add.at(loads, (c, b), el.line_loads(L[b], py[b], pz[b], lines.x1, lines.x2, lines.q1, lines.q2))
        frame.lines = lines
    frame.self_weight = []
    if frame.thermal:
        t = np.array([p for p in frame.thermal], dtype=float)
        c, b = t[:, 0].astype(int), t[:, 1].astype(int)
        np.add.at(loads, (c, b), el.thermal_loads(frame.E[b], frame.A[b], frame.Iy[b], frame.Iz[b], L[b], py[b],
                                                 pz[b], t[:, 2], t[:, 3], t[:, 4], t[:, 5], t[:, 6]))
    return loads


def _close_to_identity(frame: Frame, rtol: float, atol: float) -> np.ndarray:
    """For each support, whether its axes are the global ones (np.allclose with rtol and atol)."""
    axes = np.array([s[4] for s in frame.supports]).reshape(-1, 3, 3)
    eye = np.eye(3)
    return (np.abs(axes - eye) <= atol + rtol * np.abs(eye)).all(axis=(1, 2))


def _constraints(frame: Frame, ndof: int):
    """The map u = T q from the kept unknowns q to all node DOFs, or None when it is a plain selection;
    the kept columns; for each support its six columns in q_all; spring stiffness on q_all."""
    n = len(frame.node_names)
    rows, cols, vals = [], [], []
    dropped = np.zeros(ndof, dtype=bool)
    springs = np.zeros(ndof)
    plain = True
    axes_of = {}
    support_nodes = {}
    turned = ~_close_to_identity(frame, 0.0, 1e-15)
    for si, (name, node, freedom, stiffness, axes) in enumerate(frame.supports):
        support_nodes[node] = si
        base = 6 * node
        for k, f in enumerate(freedom):
            if f == "RIGID":
                dropped[base + k] = True
            elif f == "FLEXIBLE":
                springs[base + k] = stiffness[k]
        if turned[si]:
            axes_of[node] = axes
            plain = False
    slaves: dict[int, tuple[int, bool, bool, str]] = {}
    masters = set()
    for name, master, slave, hm, hs in frame.arms:
        if hm and hs:
            raise AnalysisRefused(f"the frame analysis does not analyse the rigid arm {name!r} hinged at both ends")
        if slave in slaves or slave in masters or master in slaves or master == slave:
            raise AnalysisRefused(f"the frame analysis does not analyse the chain of rigid arms at {name!r}")
        if slave in support_nodes:
            raise AnalysisRefused(f"the support {frame.supports[support_nodes[slave]][0]!r} is in the slave node of "
                                  f"the rigid arm {name!r}")
        slaves[slave] = (master, hm, hs, name)
        masters.add(master)
        plain = False
    if plain:
        return None, np.nonzero(~dropped)[0], springs
    # node blocks: identity or support axes
    block = {}
    for node in range(n):
        R = axes_of.get(node, np.eye(3))
        block[node] = R
    for node in range(n):
        if node in slaves:
            continue
        R = block[node]
        for part in (0, 3):
            r_, c_ = np.nonzero(np.abs(R) > 0)
            rows.extend(6 * node + part + r_)
            cols.extend(6 * node + part + c_)
            vals.extend(R[r_, c_])
    for slave, (master, hm, hs, name) in slaves.items():
        r = frame.xyz[slave] - frame.xyz[master]
        skew = np.array([[0, -r[2], r[1]], [r[2], 0, -r[0]], [-r[1], r[0], 0]])
        Rm = block[master]
        # translations: u_s = u_m - [r]x theta, theta the master's rotation or (hinge on master) the slave's own
        trans = Rm
        rot_m = -skew @ Rm
        for i in range(3):
            for j in range(3):
                if trans[i, j]:
                    rows.append(6 * slave + i); cols.append(6 * master + j); vals.append(trans[i, j])
                if hm:
                    if skew[i, j]:
                        rows.append(6 * slave + i); cols.append(6 * slave + 3 + j); vals.append(-skew[i, j])
                elif rot_m[i, j]:
                    rows.append(6 * slave + i); cols.append(6 * master + 3 + j); vals.append(rot_m[i, j])
        for i in range(3):
            if hm or hs:
                rows.append(6 * slave + 3 + i); cols.append(6 * slave + 3 + i); vals.append(1.0)
            else:
                for j in range(3):
                    if Rm[i, j]:
                        rows.append(6 * slave + 3 + i); cols.append(6 * master + 3 + j); vals.append(Rm[i, j])
        dropped[6 * slave: 6 * slave + 3] = True
        if not (hm or hs):
            dropped[6 * slave + 3: 6 * slave + 6] = True
    T = sp.csr_matrix((vals, (rows, cols)), shape=(ndof, ndof))
    return T, np.nonzero(~dropped)[0], springs


def _blocks(Kg: np.ndarray, beam_nodes: np.ndarray, n: int, diagonal: np.ndarray,
            upper: bool) -> sp.csr_matrix:
    """The sum of the beams' global matrices Kg (m, 12, 12) as a sparse matrix of 6 n unknowns, from
    the 6 x 6 blocks that join their nodes, plus `diagonal` (6 n) on the diagonal. upper: only the
    blocks on and above the diagonal (the diagonal blocks whole)."""
    m = Kg.shape[0]
    quarters = Kg.reshape(m, 2, 6, 2, 6).transpose(0, 1, 3, 2, 4)          # (m, I, J, 6, 6) view
    a, b = beam_nodes[:, 0], beam_nodes[:, 1]
    node_blocks = np.zeros((n, 6, 6))
    node_blocks[:, np.arange(6), np.arange(6)] = diagonal.reshape(n, 6)
    if upper:
        forward = (a < b)[:, None, None]
        off = np.where(forward, quarters[:, 0, 1], quarters[:, 1, 0])
        parts = [quarters[:, 0, 0], quarters[:, 1, 1], off, node_blocks]
        rows = np.concatenate([a, b, np.minimum(a, b), np.arange(n)])
        cols = np.concatenate([a, b, np.maximum(a, b), np.arange(n)])
    else:
        parts = [quarters[:, 0, 0], quarters[:, 1, 1], quarters[:, 0, 1], quarters[:, 1, 0], node_blocks]
        rows = np.concatenate([a, b, a, b, np.arange(n)])
        cols = np.concatenate([a, b, b, a, np.arange(n)])
    key = rows.astype(np.int64) * n + cols
    order = np.argsort(key, kind="stable")
    key = key[order]
    first = np.flatnonzero(np.concatenate([[True], key[1:] != key[:-1]]))
    data = np.add.reduceat(np.concatenate(parts)[order], first, axis=0)
    key = key[first]
    indptr = np.searchsorted(key // n, np.arange(n + 1))
    return sp.csr_matrix(sp.bsr_matrix((data, key % n, indptr), shape=(6 * n, 6 * n)).tocsr())


def _reduced_upper(K: Any, keep: np.ndarray) -> sp.csr_matrix:
    """The upper triangle of K's rows and columns `keep` (ascending), without stored zeros: the
    canonical matrix the sparse Cholesky solvers take. K's rows must have sorted columns."""
    ridx = np.full(K.shape[0], -1, dtype=np.int64)
    ridx[keep] = np.arange(keep.size)
    rr = np.repeat(ridx, np.diff(K.indptr))
    rc = ridx[K.indices]
    mask = (rr >= 0) & (rc >= rr) & (K.data != 0)
    indptr = np.zeros(keep.size + 1, dtype=np.int64)
    np.cumsum(np.bincount(rr[mask], minlength=keep.size), out=indptr[1:])
    U = sp.csr_matrix((K.data[mask], rc[mask].astype(np.int32), indptr.astype(np.int32)),
                      shape=(keep.size, keep.size))
    U.has_sorted_indices = True
    return U


def _symmetric(U: sp.csr_matrix) -> sp.csr_matrix:
    """The whole symmetric matrix of its upper triangle."""
    return (U + sp.triu(U, k=1, format="csr").T).tocsr()


class _Factor:
    """The factorised reduced stiffness matrix, given by its upper triangle U (canonical CSR):
    PARDISO (symmetric positive definite) for big systems where pypardiso is installed, CHOLMOD
    through cholespy otherwise, scipy's LU without either. `ok` is False when the factorisation
    breaks down (not positive definite: a mechanism)."""

    def __init__(self, U: Any):
        self.n: int = U.shape[0]
        self.ok = True
        pypardiso = _pardiso() if self.n >= PARDISO_FROM else None
        if pypardiso is not None:
            self._kind = "pardiso"
            self._upper = U
            self._solver = pypardiso.PyPardisoSolver(mtype=2)
            self._solver.set_statistical_info_off()
            try:
                self._solver.factorize(self._upper)
            except pypardiso.pardiso_wrapper.PyPardisoError:
                self.ok = False
        elif CholeskySolverD is not None:
            self._kind = "cholmod"
            coo = _symmetric(U).tocoo()
            # CHOLMOD reports a failed factorisation on the C standard error stream; keep it quiet
            saved = os.dup(2)
            try:
                devnull = os.open(os.devnull, os.O_WRONLY)
                os.dup2(devnull, 2)
                os.close(devnull)
                try:
                    self._solver = CholeskySolverD(self.n, coo.row.astype(np.int32), coo.col.astype(np.int32),
                                                   coo.data.astype(np.float64), MatrixType.COO)
                except ValueError:
                    self.ok = False
            finally:
                os.dup2(saved, 2)
                os.close(saved)
        else:  # pragma: no cover
            import scipy.sparse.linalg as sla
            self._kind = "lu"
            try:
                self._lu = sla.splu(_symmetric(U).tocsc())
            except RuntimeError:
                self.ok = False

    def solve(self, b: np.ndarray) -> np.ndarray:
        b = np.ascontiguousarray(b, dtype=np.float64)
        if self._kind == "pardiso":
            x = self._solver.solve(self._upper, b)
            self._solver.free_memory(everything=True)
            return np.asarray(x).reshape(b.shape)
        if self._kind == "lu":  # pragma: no cover
            return self._lu.solve(b)
        x = np.zeros_like(b)
        self._solver.solve(b, x)
        return x


def _free_dof(K: sp.csr_matrix) -> int:
    """The unknown at which the factorisation of K breaks down: a pivot that vanishes against its
    diagonal, found by an LU factorisation of K with a small shift (so that it completes)."""
    import scipy.sparse.linalg as sla

    diag = np.abs(K.diagonal())
    scale = diag.max() if diag.size else 1.0
    zero = np.nonzero(diag <= 1e-14 * scale)[0]
    if zero.size:
        return int(zero[0])
    lu = sla.splu((K + sp.diags(1e-10 * diag)).tocsc(), permc_spec="MMD_AT_PLUS_A", diag_pivot_thresh=0.0,
                  options={"SymmetricMode": True})
    pivots = np.abs(lu.U.diagonal())
    cols = np.argsort(lu.perm_c)          # Pr A Pc = L U: pivot j belongs to the column c with perm_c[c] = j
    relative = pivots / np.maximum(diag[cols], 1e-300)
    k = int(np.argmin(relative))
    return int(cols[k]) if relative[k] < 1e-6 else -1


def _mechanism(frame: Frame, dof: int, supported: dict[int, bool]) -> AnalysisRefused:
    node, comp = divmod(dof, 6)
    where = "in the axes of its support" if supported.get(node) else ""
    text = f"node {frame.node_names[node]}, {DOF_NAMES[comp]}" + (f" ({where})" if where else "")
    return AnalysisRefused(f"the structure can move freely: {text}")


def analyse(frame: Frame) -> Solution:
    n, m, nc = len(frame.node_names), len(frame.beam_names), len(frame.cases)
    ndof = 6 * n
    if n == 0:
        raise AnalysisRefused("the model has no nodes")
    py = el.phi(frame.E, frame.G, frame.Iz, frame.Ay, frame.length, frame.shear)
    pz = el.phi(frame.E, frame.G, frame.Iy, frame.Az, frame.length, frame.shear)
    k = el.stiffness(frame.E, frame.G, frame.A, frame.Iy, frame.Iz, frame.It, frame.length, py, pz)
    loads = _beam_loads(frame, py, pz)                                     # (nc, m, 12) at the beam ends
    # hinges and eccentricities are folded in for the beams that have them; the others' ends are
    # their nodes
    special = np.flatnonzero(~np.isinf(frame.release).all(axis=1) | (frame.ez != 0))
    K_node, at_nodes = k, loads
    C = D = np.zeros((0, 12, 12))
    if special.size:
        Ks, C, D, P = _condense(k[special], frame.release[special], frame.ez[special])
        K_node, at_nodes = k.copy(), loads.copy()
        K_node[special] = Ks
        at_nodes[:, special] = np.einsum("mij,cmj->cmi", P, loads[:, special])
        del Ks, P
    R = frame.rotations
    Kg = _global(K_node, R)
    node_loads = _to_global(at_nodes, R)                                   # (nc, m, 12) global
    del K_node, at_nodes

    dofs = (6 * frame.beam_nodes[:, :, None] + np.arange(6)[None, None, :]).reshape(m, 12)
    F = np.zeros((nc, ndof))
    for case, node, v in frame.nodal:
        F[case, 6 * node: 6 * node + 6] += v
    flat = dofs.reshape(-1)
    for c in range(nc):
        F[c] += np.bincount(flat, weights=node_loads[c].reshape(-1), minlength=ndof)
    del node_loads

    T, keep, springs = _constraints(frame, ndof)
    K: Any = None
    if T is None:
        # the matrix of the kept unknowns straight from the beams' blocks: its upper triangle, the
        # springs on its diagonal
        U = _reduced_upper(_blocks(Kg, frame.beam_nodes, n, springs, upper=True), keep)
        Fr = F[:, keep]
    else:
        K = _blocks(Kg, frame.beam_nodes, n, np.zeros(ndof), upper=False)
        Kall = (T.T @ K @ T).tocsr()
        Kr = (Kall[keep][:, keep] + sp.diags(springs[keep])).tocsr()
        del Kall
        Kr.sort_indices()
        U = _reduced_upper(Kr, np.arange(keep.size))
        del Kr
        Fr = (T.T @ F.T).T[:, keep]
    supported = {frame.supports[i][1]: True for i in np.flatnonzero(~_close_to_identity(frame, 1e-5, 1e-8))}

    q = np.zeros((nc, keep.size))
    if keep.size:
        diag = U.diagonal()
        if (diag <= 0).any():
            # an unknown without stiffness of its own (an empty row, which PARDISO does not take)
            dof = _free_dof(_symmetric(U))
            raise _mechanism(frame, int(keep[max(dof, 0)]), supported)
        factor = _Factor(U)
        if not factor.ok:
            dof = _free_dof(_symmetric(U))
            raise _mechanism(frame, int(keep[dof]) if dof >= 0 else int(keep[0]), supported)
        # one more right-hand side, a fixed pseudo-random one: a nearly singular matrix can factorise,
        # and its solution then exceeds by far what any load can cause, whatever the cases' loads are
        probe = np.random.default_rng(12345).uniform(0.5, 1.5, keep.size) * np.abs(diag)
        solved = factor.solve(np.concatenate([Fr.T, probe[:, None]], axis=1))
        del factor
        q = solved[:, :nc].T
        x = solved[:, nc]
        if not np.isfinite(solved).all() or np.abs(x).max() > 1e10:
            dof = _free_dof(_symmetric(U))
            raise _mechanism(frame, int(keep[max(dof, 0)]), supported)
    del U
    qall = np.zeros((nc, ndof))
    qall[:, keep] = q
    u = qall if T is None else (T @ qall.T).T
    u_g = u[:, dofs]                                                        # (nc, m, 12) global
    # reactions: what the supports exert, from the residual of the structure without its springs
    if T is None:
        # what the beams at the supports take from their nodes
        at_support = np.zeros(n, dtype=bool)
        at_support[[s[1] for s in frame.supports]] = True
        near = np.flatnonzero(at_support[frame.beam_nodes].any(axis=1))
        forces = np.einsum("mij,cmj->cmi", Kg[near], u_g[:, near], optimize=True)
        residual = -F
        for c in range(nc):
            residual[c] += np.bincount(dofs[near].reshape(-1), weights=forces[c].reshape(-1), minlength=ndof)
        del forces
    else:
        residual = (T.T @ ((K @ u.T).T - F).T).T
    del Kg, K
    support_nodes = np.array([s[1] for s in frame.supports], dtype=np.int64)
    r = residual[:, 6 * support_nodes[:, None] + np.arange(6)]                # (nc, ns, 6)
    axes = np.array([s[4] for s in frame.supports]).reshape(-1, 3, 3)
    reactions = np.concatenate([np.einsum("csj,sij->csi", r[..., :3], axes),
                                np.einsum("csj,sij->csi", r[..., 3:], axes)], axis=2)
    # beam end forces (local): what the nodes exert on the beam at its axis ends
    b = _to_local(u_g, R)                                                   # (nc, m, 12)
    del u_g
    if special.size:
        b[:, special] = (np.einsum("mij,cmj->cmi", C, b[:, special])
                         + np.einsum("mij,cmj->cmi", D, loads[:, special]))
    end_forces = np.einsum("mij,cmj->cmi", k, b, optimize=True) - loads
    return Solution(frame, u.reshape(nc, n, 6), reactions, end_forces, Beams(k, special, C, D, loads))
