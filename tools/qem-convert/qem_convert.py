# qem-convert: converts solver and mesher output (Gmsh .msh, VTK .vtu/.vtk/.pvd, XDMF and
# the other volume formats meshio reads) to QEM for the viewer, and QEM back to VTK.
# Debian's own Python on purpose: python3-gmsh, python3-meshio, python3-h5py and
# python3-numpy are installed for it by tools/install-deps.sh.
"""qem-convert INPUT OUTPUT [options]

Converts a volume mesh with its results to QEM, or a QEM file to VTK.

Inputs:  .msh (Gmsh 2.2 and 4.1, text and binary, through Gmsh: every view and time
         step), .vtu, .vtk, .pvd (one frame per entry), .xdmf/.xmf (time series),
         .qem, and any other volume format meshio reads (.inp, .med, .bdf/.nas,
         .mesh, ...), one frame.
Outputs: .qem; .pvd (one .vtu per frame beside it, NAME_0000.vtu ...); .vtu (one frame).

Options:
  --field NAME        the array to take the values from (default: the first point
                      array, else the first cell array)
  --component C       x, y, z or magnitude; needed for a vector or tensor array
  --list              print the arrays of INPUT (size, components, time steps), no OUTPUT
  --quiet             no progress on standard error
  --help              this text

Exit status: 0 done; 1 the input is not a mesh that can be converted (the reason
follows); 2 a file cannot be read or written; 3 wrong arguments.
"""

import base64
import itertools
import os
import sys
import time
import warnings
import xml.etree.ElementTree as ET
from xml.sax.saxutils import quoteattr

import numpy as np

EXIT_OK, EXIT_NOT_MESH, EXIT_IO, EXIT_USAGE = 0, 1, 2, 3


class Failure(Exception):
    def __init__(self, code, message):
        super().__init__(message)
        self.code = code
        self.message = message


# ----------------------------------------------------------------------------------------
# Cells. Corner numbering is Gmsh's (which meshio uses too): tetrahedron 0-3 with the face
# 0 1 2 seen counter-clockwise from 3; pyramid base 0-3 counter-clockwise seen from the
# apex 4; wedge 0 1 2 counter-clockwise seen from 3 4 5; hexahedron 0-3 counter-clockwise
# seen from 4-7. The faces below wind counter-clockwise seen from outside (their normal by
# the right-hand rule points out of the cell), as qem-generate writes its tetrahedra, so
# back-face culling keeps every outer face.

KINDS = ("tetra", "pyramid", "wedge", "hexahedron")
CORNERS = {"tetra": 4, "pyramid": 5, "wedge": 6, "hexahedron": 8}
FACES = {
    "tetra": [(0, 2, 1), (0, 1, 3), (1, 2, 3), (0, 3, 2)],
    "pyramid": [(0, 3, 2, 1), (0, 1, 4), (1, 2, 4), (2, 3, 4), (3, 0, 4)],
    "wedge": [(0, 2, 1), (3, 4, 5), (0, 1, 4, 3), (1, 2, 5, 4), (2, 0, 3, 5)],
    "hexahedron": [(0, 3, 2, 1), (4, 5, 6, 7), (0, 1, 5, 4), (1, 2, 6, 5), (2, 3, 7, 6), (3, 0, 4, 7)],
}
# The same cell with the opposite orientation: a cell given inside out is turned round.
MIRROR = {
    "tetra": (0, 2, 1, 3),
    "pyramid": (0, 3, 2, 1, 4),
    "wedge": (0, 2, 1, 3, 5, 4),
    "hexahedron": (0, 3, 2, 1, 4, 7, 6, 5),
}
TRIANGLES = {k: sum(1 if len(f) == 3 else 2 for f in FACES[k]) for k in KINDS}
BY_SHAPE = {(CORNERS[k], TRIANGLES[k]): k for k in KINDS}  # (vertices, triangles) -> kind
VTK_TYPE = {"tetra": 10, "pyramid": 14, "wedge": 13, "hexahedron": 12}
VTK_POLYHEDRON = 42
PLURAL = {"tetra": "tetrahedra", "pyramid": "pyramids", "wedge": "wedges", "hexahedron": "hexahedra",
          "polyhedron": "polyhedra"}


def signed_volume(kind, conn, points):
    """Six times the volume enclosed by the cell's faces (positive when they wind outwards)."""
    if kind == "tetra":
        p0 = points[conn[:, 0]].astype(np.float64)
        a, b, c = (points[conn[:, i]] - p0 for i in (1, 2, 3))
        return (a[:, 0] * (b[:, 1] * c[:, 2] - b[:, 2] * c[:, 1]) + a[:, 1] * (b[:, 2] * c[:, 0] - b[:, 0] * c[:, 2])
                + a[:, 2] * (b[:, 0] * c[:, 1] - b[:, 1] * c[:, 0]))
    p = points[conn].astype(np.float64)  # (M, corners, 3)
    centre = p.mean(axis=1)
    total = np.zeros(len(conn))
    for face in FACES[kind]:
        a = p[:, face[0]] - centre
        for i in range(1, len(face) - 1):
            b = p[:, face[i]] - centre
            c = p[:, face[i + 1]] - centre
            total += np.einsum("ij,ij->i", a, np.cross(b, c))
    return total


def orient(kind, conn, points):
    """The cells, those given inside out turned round."""
    inverted = signed_volume(kind, conn, points) < 0
    if inverted.any():
        conn = conn.copy()
        conn[inverted] = conn[inverted][:, MIRROR[kind]]
    return conn


def triangulate(kind, conn):
    """(M, 3 * triangles) vertex numbers of oriented cells. A quadrilateral is split along
    the diagonal from its lowest-numbered vertex, so that the cell on its other side (which
    winds it the other way round) writes the same two triangles and the face is shared."""
    parts = []
    rows = np.arange(len(conn))[:, None]
    for face in FACES[kind]:
        if len(face) == 3:
            parts.append(conn[:, face])
            continue
        q = conn[:, face]
        first = q.argmin(axis=1)[:, None]
        q = q[rows, (first + np.arange(4)) % 4]
        parts.append(q[:, [0, 1, 2]])
        parts.append(q[:, [0, 2, 3]])
    return np.concatenate(parts, axis=1)


def fan(face):
    return [(face[0], face[i], face[i + 1]) for i in range(1, len(face) - 1)]


def polyhedron_volume(triangles, points):
    p = points[np.asarray(triangles).reshape(-1, 3)].astype(np.float64)
    centre = p.reshape(-1, 3).mean(axis=0)
    p = p - centre
    return np.einsum("ij,ij->i", p[:, 0], np.cross(p[:, 1], p[:, 2])).sum()


# ----------------------------------------------------------------------------------------
# The mesh between reading and writing.

class Field:
    """One array of the input: per point or per 3-D cell, with one step per frame."""

    def __init__(self, name, location, components, steps):
        self.name = name
        self.location = location  # "point" or "cell"
        self.components = components
        self.steps = steps  # [(time or None, array of shape (n, components))]


class Mesh:
    def __init__(self):
        self.points = None  # (N, 3)
        self.blocks = []  # [(kind, conn (M, corners))] or [("polyhedron", [list of triangles])]
        self.left_out = {}  # kind name -> count of 0-, 1- and 2-D cells
        self.fields = []
        self.qem_frames = None  # (times, values) of a QEM input

    def cell_count(self):
        return sum(len(c) for _, c in self.blocks)


# ----------------------------------------------------------------------------------------
# Numbers as text.

_P10 = 10.0 ** np.arange(-30, 31)  # exact from 1e0 to 1e22 (powers of ten beyond are not)
_P10I = 10 ** np.arange(19, dtype=np.int64)


def float_rows(values, separators):
    """Text of float32 values, each followed by its separator byte: a (n, 17) byte matrix
    and the length of each row. The text is the shortest that reads back as the same
    float (read as the viewer does: atof, then narrowed to float), laid out as C's %g with
    max(6, digits) digits of precision."""
    v = np.ascontiguousarray(values, dtype=np.float32).ravel()
    n = len(v)
    a = np.abs(v).astype(np.float64)
    m = np.zeros(n, dtype=np.int64)
    q = np.zeros(n, dtype=np.int64)
    slow = []
    todo = np.flatnonzero(a != 0)
    if len(todo):
        at = a[todo]
        e = np.floor(np.log10(at)).astype(np.int64)
        e -= (_P10[np.clip(e, -30, 30) + 30] > at) & (np.abs(e) <= 22)
        e += (_P10[np.clip(e + 1, -30, 30) + 30] <= at) & (np.abs(e + 1) <= 22)
        target = np.abs(v[todo])
        # Six digits first: for a normal float a shorter text that reads back is these six
        # digits with trailing zeros (the gaps between floats are far below half a unit of
        # the sixth digit). Subnormal floats need more than 22 powers of ten: slow path.
        for p in (6, 7, 8, 9):
            qq = e - p + 1
            exact = np.abs(qq) <= 22
            power = _P10[np.clip(np.abs(qq), 0, 30) + 30]
            up = qq <= 0
            mm = np.rint(np.where(up, at * power, at / power))
            d = np.where(up, mm / power, mm * power)
            with np.errstate(over="ignore"):
                ok = exact & (d.astype(np.float32) == target)
            hit = todo[ok]
            m[hit] = mm[ok].astype(np.int64)
            q[hit] = qq[ok]
            keep = ~ok & exact
            slow.extend(todo[~ok & ~exact].tolist())
            todo, at, e, target = todo[keep], at[keep], e[keep], target[keep]
            if len(todo) == 0:
                break
        slow.extend(todo.tolist())
    # Values beyond the exact powers of ten (below about 1e-13, above 1e22): Python's own
    # shortest text of the double, widened until it reads back.
    for i in slow:
        x = float(v[i])
        for p in range(1, 10):
            text = "%.*e" % (p - 1, abs(x))
            with np.errstate(over="ignore"):
                back = np.float32(float(text))
            if back == abs(v[i]):
                mant, exp = text.split("e")
                m[i] = int(mant.replace(".", ""))
                q[i] = int(exp) - (p - 1)
                break
    # Trailing zeros off.
    while True:
        z = (m % 10 == 0) & (m != 0)
        if not z.any():
            break
        m[z] //= 10
        q[z] += 1
    k = np.ones(n, dtype=np.int64)
    for j in range(1, 19):
        k += m >= _P10I[j]
    x = q + k - 1
    precision = np.maximum(k, 6)
    zero = m == 0
    sci = ~zero & ((x < -4) | (x >= precision))
    whole = ~zero & ~sci & (x >= k - 1)
    mixed = ~zero & ~sci & (x >= 0) & (x < k - 1)
    small = ~zero & ~sci & (x < 0)
    # The digits, leading digit first.
    digits = np.empty((n, 9), dtype=np.uint8)  # right-aligned: the last digit in column 8
    rest = m.astype(np.int32)
    for j in range(8, -1, -1):
        digits[:, j] = 48 + rest % 10
        rest //= 10
    # Values of one sign, digit count, exponent and layout share one arrangement of
    # bytes: sort them into groups and lay each group out with slices.
    neg = np.signbit(v)
    layout = np.select([whole, mixed, small, sci], [1, 2, 3, 4], 0)
    key = (((neg * 5 + layout) * 10 + k) * 100 + (x + 50)).astype(np.int16)
    order = np.argsort(key, kind="stable")
    sorted_keys = key[order]
    starts = np.flatnonzero(np.concatenate([[True], sorted_keys[1:] != sorted_keys[:-1]]))
    ends = np.append(starts[1:], n)
    width = 18
    out = np.full((n, width), 32, dtype=np.uint8)
    length = np.zeros(n, dtype=np.int64)
    for start, end in zip(starts.tolist(), ends.tolist()):
        rows = order[start:end]
        i = rows[0]
        kind, kk, xx = int(layout[i]), int(k[i]), int(x[i])
        d = digits[rows, 9 - kk:]
        parts = [b"-"] if neg[i] else []
        if kind == 0:
            parts.append(b"0")
        elif kind == 1:  # 12300
            parts += [d[:, :kk], b"0" * (xx - kk + 1)]
        elif kind == 2:  # 12.5
            parts += [d[:, :xx + 1], b".", d[:, xx + 1:kk]]
        elif kind == 3:  # 0.00125
            parts += [b"0." + b"0" * (-xx - 1), d[:, :kk]]
        else:  # 1.25e-07
            parts += [d[:, :1]] + ([b".", d[:, 1:kk]] if kk > 1 else []) + [b"e%+03d" % xx]
        block = np.empty((len(rows), sum(len(p) if isinstance(p, bytes) else p.shape[1] for p in parts)),
                         dtype=np.uint8)
        at = 0
        for p in parts:
            w = len(p) if isinstance(p, bytes) else p.shape[1]
            block[:, at:at + w] = np.frombuffer(p, dtype=np.uint8) if isinstance(p, bytes) else p
            at += w
        out[rows, :at] = block
        length[rows] = at
    out[np.arange(n), length] = separators
    return out, length + 1


def float_text(values, separators):
    out, length = float_rows(values, separators)
    return out[np.arange(out.shape[1])[None, :] < length[:, None]]


def shortest_floats(values):
    """The texts of float_text, one string each."""
    return float_text(values, 32).tobytes().decode().split()


def int_lines(rows):
    """Text of a 2-D array of vertex numbers, one row per line, as a byte array: each
    number right-aligned in the width of the largest, so the elements stand in columns,
    and the whole text is one gather from a table of the numbers' texts."""
    rows = np.ascontiguousarray(rows, dtype=np.int64)
    m, n = rows.shape
    if m == 0:
        return np.zeros(0, dtype=np.uint8)
    top = max(int(rows.max()), 0)
    width = len(str(top)) + 1
    # A space, then the number right-aligned.
    table = np.full((top + 1, width), 32, dtype=np.uint8)
    rest = np.arange(top + 1)
    for d in range(width - 1):
        table[:, width - 1 - d] = np.where((rest > 0) | (d == 0), 48 + rest % 10, 32)
        rest //= 10
    # Each line's first byte ends the line before it; the last line ends with the text.
    out = np.empty(m * n * width + 1, dtype=np.uint8)
    np.take(table, rows, axis=0, out=out[:-1].reshape(m, n, width), mode="clip")
    out[width * n::width * n] = 10
    out[0] = 32
    out[-1] = 10
    return out


# ----------------------------------------------------------------------------------------
# Progress on standard error.

class Progress:
    def __init__(self, quiet):
        self.quiet = quiet
        self.tty = sys.stderr.isatty()
        self.start = time.monotonic()
        self.last = 0.0
        self.stage_name = ""

    def stage(self, text):
        self.stage_name = text
        if not self.quiet:
            self._end_line()
            sys.stderr.write("qem-convert: %s\n" % text)
            sys.stderr.flush()

    def fraction(self, done, total):
        if self.quiet or not self.tty or total <= 0:
            return
        now = time.monotonic()
        if now - self.last >= 0.2:
            self.last = now
            sys.stderr.write("\rqem-convert: %s %3d%%" % (self.stage_name, 100 * done // total))
            sys.stderr.flush()
            self.pending = True

    def _end_line(self):
        if getattr(self, "pending", False):
            sys.stderr.write("\n")
            self.pending = False

    def warn(self, text):
        self._end_line()
        sys.stderr.write("qem-convert: warning: %s\n" % text)
        sys.stderr.flush()

    def done(self):
        self._end_line()


# ----------------------------------------------------------------------------------------
# Readers.

def check_readable(path):
    try:
        with open(path, "rb") as f:
            f.read(1)
    except OSError as e:
        raise Failure(EXIT_IO, "cannot read %s: %s" % (path, e.strerror or e))


def meshio_cells(mesh, cell_blocks, cell_data):
    """The 3-D cells of meshio cell blocks (corner vertices only) and the cell arrays on them."""
    kept = []
    for index, block in enumerate(cell_blocks):
        name = block.type
        kind = next((k for k in KINDS if name.startswith(k)), None)
        if kind is None and name.startswith("VTK_LAGRANGE_"):
            kind = {"TETRAHEDRON": "tetra", "PYRAMID": "pyramid", "WEDGE": "wedge",
                    "HEXAHEDRON": "hexahedron"}.get(name[len("VTK_LAGRANGE_"):])
        if kind is not None:
            data = np.asarray(block.data)
            mesh.blocks.append((kind, data[:, :CORNERS[kind]].astype(np.int64)))
            kept.append(index)
        elif name.startswith("polyhedron"):
            mesh.blocks.append(("polyhedron", [[t for face in cell for t in fan(list(face))]
                                               for cell in block.data]))
            kept.append(index)
        else:
            mesh.left_out[name] = mesh.left_out.get(name, 0) + len(block.data)
    arrays = {}
    for name, per_block in (cell_data or {}).items():
        parts = [np.asarray(per_block[i]) for i in kept]
        if parts:
            parts = [p.reshape(len(p), -1) for p in parts]
            if len({p.shape[1] for p in parts}) == 1:
                arrays[name] = np.concatenate(parts).astype(np.float64)
    return arrays


def add_steps(mesh, steps):
    """steps: [(time or None, point_data dict, cell array dict)]; one Field per name."""
    order = []
    collected = {}
    for t, point_data, cell_arrays in steps:
        for location, arrays in (("point", point_data), ("cell", cell_arrays)):
            for name, a in arrays.items():
                a = np.asarray(a)
                if not np.issubdtype(a.dtype, np.number):
                    continue
                a = a.reshape(len(a), -1).astype(np.float64)
                key = (location, name)
                if key not in collected:
                    collected[key] = Field(name, location, a.shape[1], [])
                    order.append(key)
                collected[key].steps.append((t, a))
    # Point arrays first; the readers' own bookkeeping arrays (medit:ref, gmsh:physical,
    # su2:tag ...) after the data.
    order.sort(key=lambda k: (":" in k[1], k[0] != "point"))
    mesh.fields = [collected[k] for k in order]


def read_meshio(path, progress):
    import meshio
    progress.stage("reading %s (meshio)" % path)
    try:
        m = meshio_read(path)
    except meshio.ReadError as e:
        raise Failure(EXIT_NOT_MESH, "%s: %s" % (path, e))
    except OSError as e:
        raise Failure(EXIT_IO, "cannot read %s: %s" % (path, e.strerror or e))
    except Exception as e:  # the readers' own parse errors
        raise Failure(EXIT_NOT_MESH, "%s: %s" % (path, describe(e)))
    mesh = Mesh()
    mesh.points = np.asarray(m.points, dtype=np.float64)
    if mesh.points.ndim != 2 or mesh.points.shape[1] not in (2, 3):
        raise Failure(EXIT_NOT_MESH, "%s: the points are not 3-D" % path)
    if mesh.points.shape[1] == 2:
        mesh.points = np.column_stack([mesh.points, np.zeros(len(mesh.points))])
    if m.points.dtype == np.float32:
        mesh.points = np.asarray(m.points)
    cells = meshio_cells(mesh, m.cells, m.cell_data)
    point_data = {k: v for k, v in m.point_data.items() if len(v) == len(mesh.points)}
    add_steps(mesh, [(None, point_data, cells)])
    return mesh


def meshio_read(path):
    """meshio.read, but a file that none of its readers takes is a ReadError, not the end
    of the process (meshio.read prints and exits there)."""
    import pathlib
    import meshio
    from meshio import _helpers
    reasons = []
    for file_format in _helpers._filetypes_from_path(pathlib.Path(path)):
        if file_format not in _helpers.reader_map:
            raise meshio.ReadError("unknown file format %s" % file_format)
        try:
            return _helpers.reader_map[file_format](path)
        except meshio.ReadError as e:
            reasons.append(str(e))
    raise meshio.ReadError("; ".join(reasons) or "not a mesh meshio reads")


def describe(e):
    """A library's own exception as text; its type where the message alone says little
    (a KeyError's message is just the key)."""
    text = str(e).strip()
    if isinstance(e, (ValueError, OSError)) and len(text) > 12:
        return text
    return "%s: %s" % (type(e).__name__, text) if text else type(e).__name__


def read_xdmf(path, progress):
    import meshio
    progress.stage("reading %s (meshio, XDMF)" % path)
    try:
        reader = meshio.xdmf.TimeSeriesReader(path)
    except Exception:
        return read_meshio(path, progress)  # a single grid, not a time series
    try:
        with reader:
            points, cell_blocks = reader.read_points_cells()
            steps = []
            mesh = Mesh()
            mesh.points = np.asarray(points, dtype=np.float64)
            for k in range(reader.num_steps):
                progress.fraction(k, reader.num_steps)
                t, point_data, cell_data = reader.read_data(k)
                if k == 0:  # the cells once, their arrays at every step
                    cells = meshio_cells(mesh, cell_blocks, cell_data)
                else:
                    scratch = Mesh()
                    cells = meshio_cells(scratch, cell_blocks, cell_data)
                steps.append((float(t), point_data, cells))
    except OSError as e:
        raise Failure(EXIT_IO, "cannot read %s: %s" % (path, e.strerror or e))
    except Failure:
        raise
    except Exception as e:
        raise Failure(EXIT_NOT_MESH, "%s: %s" % (path, describe(e)))
    if not steps:
        mesh2 = Mesh()
        mesh2.points = mesh.points
        meshio_cells(mesh2, cell_blocks, {})
        return mesh2
    add_steps(mesh, steps)
    return mesh


def read_pvd(path, progress):
    progress.stage("reading %s" % path)
    try:
        root = ET.parse(path).getroot()
    except OSError as e:
        raise Failure(EXIT_IO, "cannot read %s: %s" % (path, e.strerror or e))
    except ET.ParseError as e:
        raise Failure(EXIT_NOT_MESH, "%s: not a ParaView collection: %s" % (path, e))
    collection = root.find("Collection")
    if root.tag != "VTKFile" or collection is None:
        raise Failure(EXIT_NOT_MESH, "%s: not a ParaView collection (no VTKFile/Collection)" % path)
    entries = collection.findall("DataSet")
    if not entries:
        raise Failure(EXIT_NOT_MESH, "%s: the collection has no data sets" % path)
    base = os.path.dirname(path)
    mesh = None
    steps = []
    quiet = Progress(True)
    for k, entry in enumerate(entries):
        progress.fraction(k, len(entries))
        name = entry.get("file")
        if name is None:
            raise Failure(EXIT_NOT_MESH, "%s: data set %d names no file" % (path, k + 1))
        part_path = os.path.join(base, name)
        check_readable(part_path)
        part = read_vtu_own(part_path, quiet) if part_path.lower().endswith(".vtu") else read_meshio(part_path, quiet)
        t = entry.get("timestep")
        t = float(t) if t is not None else float(k)
        if mesh is None:
            mesh = part
        elif len(part.points) != len(mesh.points) or part.cell_count() != mesh.cell_count():
            raise Failure(EXIT_NOT_MESH, "%s: %s has %d points and %d cells, the first data set %d and %d" % (
                path, name, len(part.points), part.cell_count(), len(mesh.points), mesh.cell_count()))
        point_data = {f.name: f.steps[0][1] for f in part.fields if f.location == "point"}
        cell_data = {f.name: f.steps[0][1] for f in part.fields if f.location == "cell"}
        steps.append((t, point_data, cell_data))
    add_steps(mesh, steps)
    return mesh


def read_vtu_own(path, progress):
    """A .vtu read with meshio, or, where meshio cannot (polyhedra among other cells),
    by this reader (uncompressed inline binary or ascii arrays, as this tool writes)."""
    try:
        return read_meshio_plain(path, progress)
    except Failure as f:
        if "polyhedr" not in f.message.lower():
            raise
    progress.stage("reading %s (polyhedra)" % path)
    try:
        root = ET.parse(path).getroot()
        piece = root.find("UnstructuredGrid/Piece")
        header = np.uint64 if root.get("header_type", "UInt32") == "UInt64" else np.uint32
        if root.get("compressor"):
            raise Failure(EXIT_NOT_MESH, "%s: compressed polyhedra are not supported" % path)

        def array(node):
            kind = {"Float32": np.float32, "Float64": np.float64, "Int32": np.int32, "Int64": np.int64,
                    "UInt8": np.uint8, "UInt32": np.uint32, "UInt64": np.uint64}[node.get("type")]
            if node.get("format") == "ascii":
                return np.array(node.text.split(), dtype=kind)
            raw = base64.b64decode(node.text.strip())
            size = int(np.frombuffer(raw[:np.dtype(header).itemsize], dtype=header)[0])
            return np.frombuffer(raw[np.dtype(header).itemsize:][:size], dtype=kind)

        def named(section):
            return {d.get("Name"): d for d in piece.find(section).findall("DataArray")} if piece.find(section) is not None else {}

        mesh = Mesh()
        points = array(piece.find("Points/DataArray")).reshape(-1, 3)
        mesh.points = points if points.dtype == np.float32 else points.astype(np.float64)
        cells = named("Cells")
        conn, offsets, types = (array(cells[n]).astype(np.int64) for n in ("connectivity", "offsets", "types"))
        faces = array(cells["faces"]).astype(np.int64) if "faces" in cells else None
        faceoffsets = array(cells["faceoffsets"]).astype(np.int64) if "faceoffsets" in cells else None
        kind_of = {v: k for k, v in VTK_TYPE.items()}
        begin = 0
        for i, (end, t) in enumerate(zip(offsets.tolist(), types.tolist())):
            if t == VTK_POLYHEDRON:
                at = int(faceoffsets[i - 1]) if i > 0 and faceoffsets[i - 1] >= 0 else (
                    int(max([o for o in faceoffsets[:i].tolist() if o >= 0], default=0)))
                count = int(faces[at])
                at += 1
                tris = []
                for _ in range(count):
                    n = int(faces[at])
                    tris += fan(faces[at + 1:at + 1 + n].tolist())
                    at += n + 1
                entry = ("polyhedron", [tris])
            elif t in kind_of:
                c = conn[begin:end]
                if kind_of[t] == "wedge":
                    c = c[[0, 2, 1, 3, 5, 4]]  # VTK winds its wedges the other way round
                entry = (kind_of[t], c[None, :])
            else:
                mesh.left_out["VTK type %d" % t] = mesh.left_out.get("VTK type %d" % t, 0) + 1
                begin = end
                continue
            if mesh.blocks and mesh.blocks[-1][0] == entry[0]:
                previous = mesh.blocks[-1][1]
                if entry[0] == "polyhedron":
                    previous.extend(entry[1])
                else:
                    mesh.blocks[-1] = (entry[0], np.concatenate([previous, entry[1]]))
            else:
                mesh.blocks.append(entry)
            begin = end
        point_data = {n: array(d).reshape(len(points), -1) for n, d in named("PointData").items()}
        add_steps(mesh, [(None, point_data, {})])
        return mesh
    except Failure:
        raise
    except Exception as e:
        raise Failure(EXIT_NOT_MESH, "%s: %s" % (path, describe(e)))


def read_meshio_plain(path, progress):
    return read_meshio(path, progress) if not path.lower().endswith(".vtu") else _read_vtu_meshio(path, progress)


def _read_vtu_meshio(path, progress):
    import meshio
    progress.stage("reading %s (meshio)" % path)
    try:
        m = meshio_read(path)
    except meshio.ReadError as e:
        raise Failure(EXIT_NOT_MESH, "%s: %s" % (path, e))
    except OSError as e:
        raise Failure(EXIT_IO, "cannot read %s: %s" % (path, e.strerror or e))
    except Exception as e:
        raise Failure(EXIT_NOT_MESH, "%s: %s" % (path, describe(e)))
    mesh = Mesh()
    mesh.points = np.asarray(m.points)
    if mesh.points.dtype != np.float32:
        mesh.points = mesh.points.astype(np.float64)
    cells = meshio_cells(mesh, m.cells, m.cell_data)
    add_steps(mesh, [(None, dict(m.point_data), cells)])
    return mesh


GMSH_FAMILY = {4: "tetra", 5: "pyramid", 6: "wedge", 8: "hexahedron"}


def read_gmsh(path, progress):
    import gmsh
    progress.stage("reading %s (Gmsh)" % path)
    gmsh.initialize(["qem-convert"], readConfigFiles=False)
    try:
        gmsh.option.setNumber("General.Terminal", 0)
        gmsh.option.setNumber("General.AbortOnError", 0)
        gmsh.logger.start()
        earlier = len(gmsh.logger.get())  # the log outlives finalize() within one process

        def errors():
            return [m for m in gmsh.logger.get()[earlier:] if m.startswith("Error")]
        try:
            gmsh.open(path)
        except Exception as e:
            raise Failure(EXIT_NOT_MESH, "%s: %s" % (path, "; ".join(errors()) or describe(e)))
        errors = errors()
        if errors:
            raise Failure(EXIT_NOT_MESH, "%s: %s" % (path, "; ".join(errors)))
        progress.stage("taking the mesh from Gmsh")
        mesh = Mesh()
        node_tags, coords, _ = gmsh.model.mesh.getNodes()
        node_tags = np.asarray(node_tags, dtype=np.int64)
        if len(node_tags) == 0:
            raise Failure(EXIT_NOT_MESH, "%s: the file holds no mesh" % path)
        coords = np.asarray(coords, dtype=np.float64).reshape(-1, 3)
        # A node that Gmsh lists twice (a file holding its mesh twice) is one vertex.
        unique_tags, first = np.unique(node_tags, return_index=True)
        if len(unique_tags) != len(node_tags):
            first.sort()
            node_tags, coords = node_tags[first], coords[first]
        del unique_tags, first
        index_of = np.full(int(node_tags.max()) + 1, -1, dtype=np.int64)
        index_of[node_tags] = np.arange(len(node_tags))
        mesh.points = coords
        cell_tags = []
        for etype in gmsh.model.mesh.getElementTypes():
            name, dim, _, count, _, primary = gmsh.model.mesh.getElementProperties(etype)
            tags, nodes = gmsh.model.mesh.getElementsByType(etype)
            tags = np.asarray(tags, dtype=np.int64)
            if dim != 3 or primary not in GMSH_FAMILY:
                label = name.split()[0].lower()
                mesh.left_out[label] = mesh.left_out.get(label, 0) + len(tags)
                continue
            conn = np.asarray(nodes).reshape(len(tags), count)[:, :primary].astype(np.int64)
            del nodes
            mesh.blocks.append((GMSH_FAMILY[primary], index_of[conn]))
            cell_tags.append(tags)
            del conn
        cell_tags = np.concatenate(cell_tags) if cell_tags else np.zeros(0, dtype=np.int64)
        cell_index = None
        fields = []
        for view in gmsh.view.getTags():
            index = gmsh.view.getIndex(view)
            name = gmsh.option.getString("View[%d].Name" % index)
            steps_total = int(gmsh.option.getNumber("View[%d].NbTimeStep" % index))
            progress.stage("taking view \"%s\" (%d time steps) from Gmsh" % (name, steps_total))
            field = None
            for step in range(steps_total):
                progress.fraction(step, steps_total)
                try:
                    kind, tags, data, t, components = gmsh.view.getHomogeneousModelData(view, step)
                except Exception:
                    break  # a list-based view: no model data
                tags = np.asarray(tags, dtype=np.int64)
                data = np.asarray(data, dtype=np.float64)
                if kind == "NodeData":
                    values = np.full((len(node_tags), components), np.nan)
                    ok = (tags < len(index_of))
                    values[index_of[tags[ok]]] = data.reshape(len(tags), components)[ok]
                    location = "point"
                elif kind in ("ElementData", "ElementNodeData"):
                    if cell_index is None:
                        cell_index = np.full(int(max(cell_tags.max(initial=0), 0)) + 1, -1, dtype=np.int64)
                        cell_index[cell_tags] = np.arange(len(cell_tags))
                    per = data.reshape(len(tags), -1)
                    if kind == "ElementNodeData":  # the average of the element's nodes
                        per = per.reshape(len(tags), -1, components).mean(axis=1)
                    values = np.full((len(cell_tags), components), np.nan)
                    inside = tags < len(cell_index)
                    target = cell_index[tags[inside]]
                    keep = target >= 0
                    values[target[keep]] = per[inside][keep]
                    location = "cell"
                else:
                    break
                if field is None:
                    field = Field(name, location, components, [])
                field.steps.append((float(t), values))
            if field is not None:
                fields.append(field)
        fields.sort(key=lambda f: f.location != "point")
        mesh.fields = fields
        return mesh
    finally:
        gmsh.logger.stop()
        gmsh.finalize()


def read_qem(path, progress):
    progress.stage("reading %s" % path)
    try:
        with open(path, "rb") as f:
            text = f.read()
    except OSError as e:
        raise Failure(EXIT_IO, "cannot read %s: %s" % (path, e.strerror or e))
    if b"{/" in text:
        import re
        text = re.sub(rb"\{/.*?/\}", b" ", text, flags=re.S)
    if b"," in text or b";" in text:
        text = text.replace(b",", b" ").replace(b";", b" ")

    def fail(what):
        raise Failure(EXIT_NOT_MESH, "%s: %s" % (path, what))

    def section(keyword, start, text_until):
        at = text.find(keyword, start, text_until)
        if at < 0:
            fail("no %s section" % keyword)
        return at

    head = text[:64].lstrip()[:3]
    if head != b"QEM":
        fail("not a QEM file (no QEM header)")
    v_at = section(b"VERTICES", 0, len(text))
    e_at = section(b"ELEMENTS", v_at, len(text))
    f_at = section(b"FRAMES", e_at, len(text))
    def numbers(part, dtype, what):
        with warnings.catch_warnings():
            warnings.simplefilter("error")  # a word that is not a number
            try:
                return np.fromstring(part, dtype=dtype, sep=" ")
            except (ValueError, DeprecationWarning):
                fail("%s: not all numbers" % what)

    def count(part, what):
        words = part.split(None, 2)
        if len(words) < 2 or not words[1].isdigit():
            fail("no %s count" % what)
        return int(words[1]), words[2] if len(words) > 2 else b""

    n, rest = count(text[v_at:e_at], "vertex")
    points = numbers(rest, np.float64, "vertices").astype(np.float32)
    if len(points) != 3 * n:
        fail("%d vertices announced, %d numbers given" % (n, len(points)))
    mesh = Mesh()
    mesh.points = points.reshape(n, 3)

    e, rest = count(text[e_at:f_at], "element")
    flat = numbers(rest, np.int64, "elements")
    # Words per line, then the elements: one ends where a line break follows a triangle's
    # third number.
    raw = np.frombuffer(rest, dtype=np.uint8)
    blank = (raw == 32) | (raw == 9) | (raw == 10) | (raw == 13)
    word = ~blank
    word[1:] &= blank[:-1]
    starts = np.flatnonzero(word)
    del blank, word
    breaks = np.flatnonzero(raw == 10)
    per_line = np.bincount(np.searchsorted(breaks, starts), minlength=len(breaks) + 1)
    del starts
    per_line = per_line[per_line > 0]
    if (per_line % 3 == 0).all():
        lengths = per_line
    else:
        lengths, pending = [], 0
        for words in per_line.tolist():
            pending += words
            if pending % 3 == 0:
                lengths.append(pending)
                pending = 0
        if pending:
            fail("the last element is not whole triangles")
        lengths = np.array(lengths, dtype=np.int64)
    if len(lengths) != e or lengths.sum() != len(flat):
        fail("%d elements announced, %d given" % (e, len(lengths)))
    if (flat < 0).any():
        fail("a vertex number is negative")

    frames, rest = count(text[f_at:], "frame")
    table = numbers(rest, np.float64, "frames").astype(np.float32)
    if len(table) != frames * (n + 1):
        fail("%d frames of %d values announced, %d numbers given" % (frames, n, len(table)))
    table = table.reshape(frames, n + 1)
    mesh.qem_elements = (flat, np.concatenate([[0], np.cumsum(lengths)]))
    mesh.fields = [Field("value", "point", 1, [(float(table[k, 0]), table[k, 1:, None]) for k in range(frames)])]
    return mesh


READERS = {".msh": read_gmsh, ".vtu": read_vtu_own, ".pvd": read_pvd, ".xdmf": read_xdmf, ".xmf": read_xdmf,
           ".qem": read_qem}


# ----------------------------------------------------------------------------------------
# QEM elements back into cells.

def qem_to_cells(mesh):
    """Each QEM element whose triangles close a tetrahedron, pyramid, wedge or hexahedron
    becomes that cell; any other element a polyhedron of its triangles. Elements that this
    tool wrote come back as the very cells they were written from."""
    points = mesh.points
    flat, offsets = mesh.qem_elements
    lengths = np.diff(offsets)
    # Per element: its kind (an index into KINDS, len(KINDS) for a polyhedron) and corners.
    polyhedron = len(KINDS)
    kind_of = np.full(len(lengths), polyhedron, dtype=np.int8)
    corners = np.zeros((len(lengths), 8), dtype=np.int64)
    polyhedra = {}
    patterns = {}
    for length in np.unique(lengths).tolist():
        members = np.flatnonzero(lengths == length)
        shape = None
        for k in KINDS:
            if 3 * TRIANGLES[k] == length:
                shape = k
        rows = flat[offsets[members][:, None] + np.arange(length)]
        if rows.max() >= len(points):
            raise Failure(EXIT_NOT_MESH, "an element names a vertex that does not exist")
        done = np.zeros(len(members), dtype=bool)
        if shape is not None:
            conn, ok = corners_by_position(shape, rows)
            ok &= (triangulate(shape, orient(shape, conn, points)) == rows).all(axis=1)
            kind_of[members[ok]] = KINDS.index(shape)
            corners[members[ok], :CORNERS[shape]] = conn[ok]
            done = ok
            del conn
        for j in np.flatnonzero(~done).tolist():
            tris = rows[j].reshape(-1, 3)
            distinct = list(dict.fromkeys(rows[j].tolist()))
            local = {v: i for i, v in enumerate(distinct)}
            key = tuple(local[v] for v in rows[j].tolist())
            if key not in patterns:
                patterns[key] = match_shape(len(distinct), np.array(key).reshape(-1, 3))
            found = patterns[key]
            if found is not None:
                # Only where this tool would write the same triangles: a polyhedron that
                # merely has a wedge's or a hexahedron's connectivity (an octahedron is a
                # twisted wedge) stays a polyhedron.
                kind, perm = found
                conn = orient(kind, np.array(distinct, dtype=np.int64)[list(perm)][None, :], points)
                again = triangulate(kind, conn).reshape(-1, 3)
                if {frozenset(t) for t in again.tolist()} != {frozenset(t) for t in tris.tolist()}:
                    found = None
            if found is None:
                polyhedra[int(members[j])] = tris.tolist()
            else:
                kind_of[members[j]] = KINDS.index(kind)
                corners[members[j], :CORNERS[kind]] = conn[0]
        del rows
    # Runs of one kind in the file's order, so that the elements come back in it.
    starts = np.flatnonzero(np.concatenate([[True], kind_of[1:] != kind_of[:-1]])).tolist()
    blocks = []
    for start, end in zip(starts, starts[1:] + [len(kind_of)]):
        code = int(kind_of[start])
        if code == polyhedron:
            blocks.append(("polyhedron", [polyhedra[i] for i in range(start, end)]))
        else:
            blocks.append((KINDS[code], corners[start:end, :CORNERS[KINDS[code]]].copy()))
    mesh.blocks = blocks


def corners_by_position(kind, rows):
    """Corners read off the faces at the places where triangulate() puts them; ok where
    every corner is found."""
    slots = []
    at = 0
    for face in FACES[kind]:
        width = 3 if len(face) == 3 else 6
        slots.append(rows[:, at:at + width])
        at += width
    conn = np.zeros((len(rows), CORNERS[kind]), dtype=np.int64)
    ok = np.ones(len(rows), dtype=bool)
    for c in range(CORNERS[kind]):
        faces = [i for i, f in enumerate(FACES[kind]) if c in f]
        candidates = slots[faces[0]]
        mask = np.ones(candidates.shape, dtype=bool)
        for f in faces[1:]:
            mask &= (candidates[:, :, None] == slots[f][:, None, :]).any(axis=2)
        ok &= mask.any(axis=1)
        conn[:, c] = candidates[np.arange(len(rows)), mask.argmax(axis=1)]
    return conn, ok


def match_shape(vertex_count, tris):
    """(kind, perm) when the triangles (local vertex numbers) close one of the cells:
    corner c of the cell is local vertex perm[c]; else None."""
    kind = BY_SHAPE.get((vertex_count, len(tris)))
    if kind is None:
        return None
    have = {}
    for t in tris.tolist():
        key = frozenset(t)
        if len(key) != 3:
            return None
        have[key] = have.get(key, 0) + 1
    if any(v != 1 for v in have.values()):
        return None
    for perm in itertools.permutations(range(vertex_count)):
        if all(covers(face, perm, have) for face in FACES[kind]):
            return kind, perm
    return None


def covers(face, perm, have):
    v = [perm[c] for c in face]
    if len(v) == 3:
        return frozenset(v) in have
    a, b, c, d = v
    return ((frozenset((a, b, c)) in have and frozenset((a, c, d)) in have)
            or (frozenset((b, c, d)) in have and frozenset((b, d, a)) in have))


# ----------------------------------------------------------------------------------------
# Values.

def pick_values(mesh, field_name, component, progress, notes):
    """(times, values (F, N) float64) of the chosen array, per point."""
    fields = mesh.fields
    if not fields:
        if component is not None or field_name is not None:
            raise Failure(EXIT_USAGE, "the input has no arrays%s" % (
                "" if field_name is None else " (no %s)" % field_name))
        progress.warn("the input has no values: one frame of zeros at time 0")
        notes.append("no values: zeros")
        return np.zeros(1), np.zeros((1, len(mesh.points))), "value"
    if field_name is None:
        field = fields[0]
    else:
        matching = [f for f in fields if f.name == field_name]
        if not matching:
            raise Failure(EXIT_USAGE, "no array %s in the input; it has: %s" % (
                field_name, ", ".join(f.name for f in fields)))
        field = matching[0]
    if field.components == 1:
        if component not in (None, "x"):
            raise Failure(EXIT_USAGE, "%s has one component; --component %s does not apply" % (field.name, component))
        take = lambda a: a[:, 0]
        what = ""
    else:
        if component is None:
            raise Failure(EXIT_USAGE, "%s has %d components: choose one with --component x|y|z|magnitude" % (
                field.name, field.components))
        if component == "magnitude":
            take = lambda a: np.sqrt((a * a).sum(axis=1))
        else:
            axis = "xyz".index(component)
            if axis >= field.components:
                raise Failure(EXIT_USAGE, "%s has %d components, no %s" % (field.name, field.components, component))
            take = lambda a: a[:, axis]
        what = ", %s" % component
    times = []
    values = np.empty((len(field.steps), len(mesh.points)))
    averaged = field.location == "cell"
    if averaged:
        conn_all, cell_of = cells_of_vertices(mesh)
        uses = np.bincount(conn_all, minlength=len(mesh.points)).astype(np.float64)
    for k, (t, a) in enumerate(field.steps):
        times.append(float(k) if t is None else t)
        v = take(a)
        if averaged:
            sums = np.bincount(conn_all, weights=v[cell_of], minlength=len(mesh.points))
            with np.errstate(invalid="ignore", divide="ignore"):
                v = sums / uses
        values[k] = v
    notes.append("field %s%s%s" % (field.name, what, ", cell data averaged to vertices" if averaged else ""))
    return np.array(times), values, field.name


def cells_of_vertices(mesh):
    """Every (vertex, cell) pair of the 3-D cells, as two flat arrays."""
    vertices, cells = [], []
    first = 0
    for kind, conn in mesh.blocks:
        if kind == "polyhedron":
            for j, tris in enumerate(conn):
                u = np.unique(np.asarray(tris).ravel())
                vertices.append(u)
                cells.append(np.full(len(u), first + j))
        else:
            vertices.append(conn.ravel())
            cells.append(np.repeat(np.arange(first, first + len(conn)), conn.shape[1]))
        first += len(conn)
    return np.concatenate(vertices), np.concatenate(cells)


# ----------------------------------------------------------------------------------------
# Writers.

class Output:
    """A file written under a temporary name beside its place and renamed when complete."""

    def __init__(self, path):
        self.path = path
        self.temporary = os.path.join(os.path.dirname(path) or ".",
                                      ".%s.%d.tmp" % (os.path.basename(path), os.getpid()))
        try:
            self.file = open(self.temporary, "wb")
        except OSError as e:
            raise Failure(EXIT_IO, "cannot write %s: %s" % (path, e.strerror or e))

    def write(self, data):
        try:
            self.file.write(data)
        except OSError as e:
            self.abandon()
            raise Failure(EXIT_IO, "cannot write %s: %s" % (self.path, e.strerror or e))

    def finish(self):
        try:
            self.file.close()
            os.replace(self.temporary, self.path)
        except OSError as e:
            self.abandon()
            raise Failure(EXIT_IO, "cannot write %s: %s" % (self.path, e.strerror or e))

    def abandon(self):
        try:
            self.file.close()
        except OSError:
            pass
        try:
            os.unlink(self.temporary)
        except OSError:
            pass


def write_qem(path, points, blocks, times, values, progress, outputs):
    out = Output(path)
    outputs.append(out)
    total = len(points) + sum(len(c) for _, c in blocks) + values.size
    done = 0
    progress.stage("writing %s" % path)
    out.write(b"QEM\nVERTICES %d\n" % len(points))
    step = 300000  # numbers or elements at a time: the text is made in pieces
    for start in range(0, len(points), step // 3):
        part = points[start:start + step // 3]
        out.write(float_text(part, np.tile(np.array([32, 32, 10], dtype=np.uint8), len(part))))
        done += len(part)
        progress.fraction(done, total)
    out.write(b"ELEMENTS %d\n" % sum(len(c) for _, c in blocks))
    for kind, conn in blocks:
        if kind == "polyhedron":
            for tris in conn:
                out.write(int_lines(np.array(tris, dtype=np.int64).reshape(1, -1)))
            done += len(conn)
            continue
        for start in range(0, len(conn), step):
            part = conn[start:start + step]
            out.write(int_lines(triangulate(kind, orient(kind, part, points))))
            done += len(part)
            progress.fraction(done, total)
    out.write(b"FRAMES %d\n" % len(times))
    time_texts = shortest_floats(times)
    for k in range(len(times)):
        out.write(time_texts[k].encode() + b"\n")
        row = values[k]
        separators = np.full(len(row), 32, dtype=np.uint8)
        separators[9::10] = 10  # ten values to a line
        separators[-1] = 10
        for start in range(0, len(row), step):
            out.write(float_text(row[start:start + step], separators[start:start + step]))
            done += min(step, len(row) - start)
            progress.fraction(done, total)
    out.finish()


def b64_array(array):
    raw = np.ascontiguousarray(array).tobytes()
    return base64.b64encode(np.array([len(raw)], dtype=np.uint64).tobytes() + raw).decode("ascii")


def vtk_type_name(dtype):
    return {np.dtype(np.float32): "Float32", np.dtype(np.float64): "Float64", np.dtype(np.int64): "Int64",
            np.dtype(np.uint8): "UInt8"}[np.dtype(dtype)]


def vtu_cells(points, blocks):
    """connectivity, offsets, types, faces, faceoffsets (the last two None without polyhedra)."""
    conn, sizes, types = [], [], []
    has_poly = any(k == "polyhedron" for k, _ in blocks)
    faces, faceoffsets = [], []
    face_length = 0
    for kind, data in blocks:
        if kind == "polyhedron":
            for tris in data:
                tris = np.asarray(tris, dtype=np.int64).reshape(-1, 3)
                corners = np.array(list(dict.fromkeys(tris.ravel().tolist())), dtype=np.int64)
                conn.append(corners)
                sizes.append(np.array([len(corners)]))
                types.append(np.array([VTK_POLYHEDRON], dtype=np.uint8))
                record = np.concatenate([[len(tris)], np.column_stack([np.full(len(tris), 3), tris]).ravel()])
                faces.append(record)
                face_length += len(record)
                faceoffsets.append(np.array([face_length]))
            continue
        c = orient(kind, data, points)
        if kind == "wedge":
            c = c[:, [0, 2, 1, 3, 5, 4]]  # VTK winds its wedges the other way round
        conn.append(c.ravel())
        sizes.append(np.full(len(c), c.shape[1]))
        types.append(np.full(len(c), VTK_TYPE[kind], dtype=np.uint8))
        if has_poly:
            faceoffsets.append(np.full(len(c), -1))
    conn = np.concatenate(conn).astype(np.int64)
    offsets = np.cumsum(np.concatenate(sizes)).astype(np.int64)
    types = np.concatenate(types).astype(np.uint8)
    if not has_poly:
        return conn, offsets, types, None, None
    return conn, offsets, types, np.concatenate(faces).astype(np.int64), np.concatenate(faceoffsets).astype(np.int64)


def vtu_array(name, a, components=None):
    extra = ' NumberOfComponents="%d"' % components if components else ""
    named = ' Name=%s' % quoteattr(name) if name else ""
    return ('<DataArray type="%s"%s%s format="binary">%s</DataArray>\n' % (
        vtk_type_name(a.dtype), named, extra, b64_array(a))).encode()


def vtu_geometry(points, cells):
    """The points and cells of every frame's .vtu, encoded once."""
    conn, offsets, types, faces, faceoffsets = cells
    parts = [b"<Points>\n", vtu_array(None, points, 3), b"</Points>\n<Cells>\n",
             vtu_array("connectivity", conn), vtu_array("offsets", offsets), vtu_array("types", types)]
    if faces is not None:
        parts += [vtu_array("faces", faces), vtu_array("faceoffsets", faceoffsets)]
    parts.append(b"</Cells>\n")
    return b"".join(parts)


def write_vtu(path, counts, geometry, value_name, t, values, outputs):
    head = ('<?xml version="1.0"?>\n'
            '<VTKFile type="UnstructuredGrid" version="1.0" byte_order="LittleEndian" header_type="UInt64">\n'
            '<UnstructuredGrid>\n'
            '<FieldData>\n'
            '<DataArray type="Float64" Name="TimeValue" NumberOfTuples="1" format="ascii">%r</DataArray>\n'
            '</FieldData>\n'
            '<Piece NumberOfPoints="%d" NumberOfCells="%d">\n'
            '<PointData Scalars=%s>\n' % (t, counts[0], counts[1], quoteattr(value_name)))
    out = Output(path)
    outputs.append(out)
    out.write(head.encode())
    out.write(vtu_array(value_name, values.astype(np.float32)))
    out.write(b"</PointData>\n")
    out.write(geometry)
    out.write(b"</Piece>\n</UnstructuredGrid>\n</VTKFile>\n")
    out.finish()


def write_vtk_output(path, points, blocks, times, values, value_name, progress, outputs, written):
    cells = vtu_cells(points, blocks)
    counts = (len(points), len(cells[2]))
    geometry = vtu_geometry(points, cells)
    del cells
    time_texts = shortest_floats(times)
    if path.lower().endswith(".vtu"):
        if len(times) != 1:
            raise Failure(EXIT_USAGE, "%d frames do not fit in one .vtu: write a .pvd" % len(times))
        progress.stage("writing %s" % path)
        write_vtu(path, counts, geometry, value_name, float(time_texts[0]), values[0], outputs)
        return
    stem = os.path.splitext(os.path.basename(path))[0]
    folder = os.path.dirname(path)
    entries = []
    progress.stage("writing %s and %d .vtu files" % (path, len(times)))
    for k in range(len(times)):
        progress.fraction(k, len(times))
        name = "%s_%04d.vtu" % (stem, k)
        write_vtu(os.path.join(folder, name), counts, geometry, value_name, float(time_texts[k]), values[k],
                  outputs)
        written.append(os.path.join(folder, name))
        entries.append('    <DataSet timestep="%s" group="" part="0" file=%s/>\n' % (time_texts[k], quoteattr(name)))
    out = Output(path)
    outputs.append(out)
    out.write(('<?xml version="1.0"?>\n<VTKFile type="Collection" version="0.1" byte_order="LittleEndian">\n'
               '  <Collection>\n%s  </Collection>\n</VTKFile>\n' % "".join(entries)).encode())
    out.finish()


# ----------------------------------------------------------------------------------------
# The command.

def parse_arguments(argv):
    options = {"field": None, "component": None, "list": False, "quiet": False}
    paths = []
    i = 0
    while i < len(argv):
        a = argv[i]
        if a in ("--help", "-h"):
            sys.stdout.write(__doc__)
            sys.exit(EXIT_OK)
        elif a in ("--field", "--component"):
            if i + 1 >= len(argv):
                raise Failure(EXIT_USAGE, "%s needs a value" % a)
            options[a[2:]] = argv[i + 1]
            i += 1
        elif a == "--list":
            options["list"] = True
        elif a == "--quiet":
            options["quiet"] = True
        elif a.startswith("--") or (a.startswith("-") and a != "-"):
            raise Failure(EXIT_USAGE, "unknown option %s" % a)
        else:
            paths.append(a)
        i += 1
    if options["component"] not in (None, "x", "y", "z", "magnitude"):
        raise Failure(EXIT_USAGE, "--component takes x, y, z or magnitude, not %s" % options["component"])
    wanted = 1 if options["list"] else 2
    if len(paths) != wanted:
        raise Failure(EXIT_USAGE, "expected INPUT%s, got %d paths" % ("" if options["list"] else " OUTPUT", len(paths)))
    if not options["list"]:
        ext = os.path.splitext(paths[1])[1].lower()
        if ext not in (".qem", ".pvd", ".vtu"):
            raise Failure(EXIT_USAGE, "the output must be .qem, .pvd or .vtu, not %s" % (ext or paths[1]))
        if os.path.abspath(paths[0]) == os.path.abspath(paths[1]):
            raise Failure(EXIT_USAGE, "the output would overwrite the input")
    return paths, options


def read_input(path, progress):
    check_readable(path)
    reader = READERS.get(os.path.splitext(path)[1].lower(), read_meshio)
    return reader(path, progress)


def list_fields(mesh, path):
    print("%s: %d points, %d 3-D cells" % (path, len(mesh.points), mesh.cell_count()))
    if not mesh.fields:
        print("  no arrays")
    for f in mesh.fields:
        times = [t for t, _ in f.steps if t is not None]
        span = " (times %s to %s)" % (fmt(min(times)), fmt(max(times))) if times else ""
        print("  %s: %s data, %d values, %d component%s, %d time step%s%s" % (
            f.name, f.location, len(f.steps[0][1]), f.components, "" if f.components == 1 else "s",
            len(f.steps), "" if len(f.steps) == 1 else "s", span))


def fmt(x):
    return "%.7g" % x


def convert(input_path, output_path, options, progress, outputs, written):
    mesh = read_input(input_path, progress)
    if options["list"]:
        list_fields(mesh, input_path)
        return
    from_qem = getattr(mesh, "qem_elements", None) is not None
    if from_qem:
        progress.stage("recognising the cells of %d elements" % (len(mesh.qem_elements[1]) - 1))
        qem_to_cells(mesh)
    if mesh.cell_count() == 0:
        left = ", ".join("%d %s" % (n, k) for k, n in mesh.left_out.items())
        raise Failure(EXIT_NOT_MESH, "%s: no 3-D cells%s" % (input_path, " (only %s)" % left if left else ""))
    notes = []
    times, values, value_name = pick_values(mesh, options["field"], options["component"], progress, notes)

    # Only the vertices of 3-D cells, renumbered in their order.
    points = mesh.points
    used = np.zeros(len(points), dtype=bool)
    for kind, conn in mesh.blocks:
        if kind == "polyhedron":
            for tris in conn:
                used[np.asarray(tris).ravel()] = True
        else:
            if conn.min() < 0 or conn.max() >= len(points):
                raise Failure(EXIT_NOT_MESH, "%s: a %s names a vertex that does not exist" % (input_path, kind))
            used[conn.ravel()] = True
    dropped = int(len(points) - used.sum())
    if dropped:
        renumber = np.cumsum(used) - 1
        points = points[used]
        values = values[:, used]
        mesh.blocks = [(k, [renumber[np.asarray(t)].tolist() for t in c] if k == "polyhedron" else renumber[c])
                       for k, c in mesh.blocks]
    # A polyhedron given inside out is turned round like the cells.
    mesh.blocks = [(k, [[(t[0], t[2], t[1]) for t in tris] if polyhedron_volume(tris, points) < 0 else tris
                        for tris in c] if k == "polyhedron" else c) for k, c in mesh.blocks]
    points32 = points.astype(np.float32)
    if not np.isfinite(points32).all():
        raise Failure(EXIT_NOT_MESH, "%s: a coordinate is not a finite float" % input_path)
    if (points32 == points32[0]).all():
        raise Failure(EXIT_NOT_MESH, "%s: every vertex is at the same point" % input_path)

    times32 = np.asarray(times, dtype=np.float32)
    for k in range(1, len(times32)):
        if not times32[k] > times32[k - 1]:
            raise Failure(EXIT_NOT_MESH, "%s: the times do not increase: %s after %s (frames %d and %d)" % (
                input_path, fmt(times[k]), fmt(times[k - 1]), k, k + 1))
    values32 = values.astype(np.float32)
    bad = np.argwhere(~np.isfinite(values32))
    if len(bad):
        frame, vertex = bad[0]
        raise Failure(EXIT_NOT_MESH, "%s: frame %d (time %s) has no finite value at vertex %d" % (
            input_path, frame + 1, fmt(times[frame]), vertex))

    if output_path.lower().endswith(".qem"):
        write_qem(output_path, points32, mesh.blocks, times32, values32, progress, outputs)
    else:
        out_points = points32 if from_qem or points.dtype == np.float32 else points
        write_vtk_output(output_path, out_points, mesh.blocks, times32, values32, value_name, progress,
                         outputs, written)
    progress.done()

    counts = {}
    for kind, conn in mesh.blocks:
        counts[kind] = counts.get(kind, 0) + len(conn)
    kinds = ", ".join("%d %s" % (counts[k], PLURAL[k]) for k in KINDS + ("polyhedron",) if k in counts)
    left = [("%d %s" % (n, k)) for k, n in sorted(mesh.left_out.items())]
    if dropped:
        left.append("%d unused vertices" % dropped)
    print("%s: %d vertices, %d elements (%s), %d frame%s, time %s to %s, values %s to %s; %s; left out: %s" % (
        output_path, len(points32), sum(counts.values()), kinds, len(times32), "" if len(times32) == 1 else "s",
        fmt(times32[0]), fmt(times32[-1]), fmt(values32.min()), fmt(values32.max()), "; ".join(notes),
        ", ".join(left) if left else "nothing"))


def main(argv):
    outputs = []
    written = []
    try:
        paths, options = parse_arguments(argv)
        progress = Progress(options["quiet"])
        convert(paths[0], paths[1] if len(paths) > 1 else None, options, progress, outputs, written)
        return EXIT_OK
    except Failure as f:
        for out in outputs:
            out.abandon()
        for path in written:  # frames of a collection that is not complete
            try:
                os.unlink(path)
            except OSError:
                pass
        sys.stderr.write("qem-convert: %s\n" % f.message)
        if f.code == EXIT_USAGE:
            sys.stderr.write("Usage: qem-convert INPUT OUTPUT [--field NAME] [--component x|y|z|magnitude]\n"
                             "       qem-convert INPUT --list      (qem-convert --help for more)\n")
        return f.code
    except MemoryError:
        for out in outputs:
            out.abandon()
        sys.stderr.write("qem-convert: out of memory\n")
        return EXIT_IO
    except KeyboardInterrupt:
        for out in outputs:
            out.abandon()
        return 130


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
