#!/usr/bin/python3
"""qem-convert's tests. Every input is made here: Gmsh's API meshes a box and a sphere with
tetrahedra and a box with hexahedra and wedges (extruded), with views of three time steps;
meshio writes the same data as .vtu, legacy .vtk, XDMF and a .pvd collection. The converted
files are checked by an independent QEM reader below and by qem-info (the viewer's loader).

Environment: QEM_CONVERT (the tool), QEM_INFO and QEM_GENERATE (the built tools)."""

import contextlib
import importlib.machinery
import importlib.util
import io
import json
import os
import shutil
import subprocess
import tempfile
import unittest

import gmsh
import meshio
import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
CONVERT = os.environ.get("QEM_CONVERT", os.path.join(ROOT, "tools/qem-convert/qem-convert"))
QEM_INFO = os.environ.get("QEM_INFO", os.path.join(ROOT, "build/tools/qem-info/qem-info"))
QEM_GENERATE = os.environ.get("QEM_GENERATE", os.path.join(ROOT, "build/tools/qem-generate/qem-generate"))

loader = importlib.machinery.SourceFileLoader("qem_convert", os.path.join(os.path.dirname(CONVERT), "qem_convert.py"))
module_spec = importlib.util.spec_from_loader("qem_convert", loader)
tool = importlib.util.module_from_spec(module_spec)
loader.exec_module(tool)

TIMES = [0.0, 0.5, 1.25]
GMSH_KIND = {4: "tetra", 5: "hexahedron", 6: "wedge", 7: "pyramid"}
FACES = {  # corner sets of each cell's faces, for the independent boundary count
    "tetra": [(0, 1, 2), (0, 1, 3), (1, 2, 3), (0, 2, 3)],
    "wedge": [(0, 1, 2), (3, 4, 5), (0, 1, 4, 3), (1, 2, 5, 4), (2, 0, 3, 5)],
    "hexahedron": [(0, 1, 2, 3), (4, 5, 6, 7), (0, 1, 5, 4), (1, 2, 6, 5), (2, 3, 7, 6), (3, 0, 4, 7)],
}


def value_at(p, step):
    """The scalar view: a different plane in each step."""
    return p[:, 0] + 10 * p[:, 1] + 100 * p[:, 2] + 1000 * step


def run(*args):
    """The tool in this process: (exit code, stdout, stderr)."""
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        code = tool.main([str(a) for a in args])
    return code, out.getvalue(), err.getvalue()


def read_qem(path):
    """A reader of its own for the files the tool writes: points, elements (lists of
    triangles), times and values, all as the viewer narrows them."""
    with open(path) as f:
        lines = f.read().split("\n")
    assert lines[0] == "QEM"
    n = int(lines[1].split()[1])
    points = np.array(" ".join(lines[2:2 + n]).split(), dtype=np.float64).astype(np.float32).reshape(n, 3)
    at = 2 + n
    e = int(lines[at].split()[1])
    elements = [np.array(lines[at + 1 + i].split(), dtype=np.int64).reshape(-1, 3) for i in range(e)]
    at += 1 + e
    f = int(lines[at].split()[1])
    numbers = np.array(" ".join(lines[at + 1:]).split(), dtype=np.float64).astype(np.float32).reshape(f, n + 1)
    return points, elements, numbers[:, 0], numbers[:, 1:]


def qem_info(path):
    result = subprocess.run([QEM_INFO, "--json", path], capture_output=True, text=True)
    return result.returncode, json.loads(result.stdout)


class GmshModel:
    """A mesh made by Gmsh with its views, kept as plain arrays for meshio and the checks."""

    def __init__(self, build):
        gmsh.initialize(readConfigFiles=False)
        gmsh.option.setNumber("General.Terminal", 0)
        gmsh.model.add("m")
        build()
        tags, coords, _ = gmsh.model.mesh.getNodes()
        order = np.argsort(tags)
        self.node_tags = np.asarray(tags)[order]
        self.points = np.asarray(coords).reshape(-1, 3)[order]
        index = {t: i for i, t in enumerate(self.node_tags.tolist())}
        self.cells = []  # [(kind, conn)] in Gmsh's order
        self.cell_tags = []
        self.lower = 0
        for etype, etags, enodes in zip(*gmsh.model.mesh.getElements()):
            props = gmsh.model.mesh.getElementProperties(etype)
            if props[1] != 3:
                self.lower += len(etags)
                continue
            conn = np.array([index[t] for t in enodes], dtype=np.int64).reshape(len(etags), -1)
            self.cells.append((GMSH_KIND[etype], conn))
            self.cell_tags.append(np.asarray(etags))
        self.cell_tags = np.concatenate(self.cell_tags)
        # Three time steps of a scalar at the nodes, a vector at the nodes and a scalar per cell.
        self.scalar = gmsh.view.add("temperature")
        self.vector = gmsh.view.add("displacement")
        self.percell = gmsh.view.add("pressure")
        self.cell_values = []
        for step, t in enumerate(TIMES):
            s = value_at(self.points, step)
            gmsh.view.addHomogeneousModelData(self.scalar, step, "m", "NodeData", self.node_tags, s, t, 1)
            v = np.column_stack([self.points[:, 0] * (step + 1), self.points[:, 1], np.full(len(s), 2.0)])
            gmsh.view.addHomogeneousModelData(self.vector, step, "m", "NodeData", self.node_tags, v.ravel(), t, 3)
            c = np.arange(len(self.cell_tags), dtype=np.float64) + step
            self.cell_values.append(c)
            gmsh.view.addHomogeneousModelData(self.percell, step, "m", "ElementData", self.cell_tags, c, t, 1)

    def write(self, path, version=4.1, binary=False):
        gmsh.option.setNumber("Mesh.MshFileVersion", version)
        gmsh.option.setNumber("Mesh.Binary", 1 if binary else 0)
        gmsh.option.setNumber("PostProcessing.SaveMesh", 0)
        gmsh.write(path)
        for view in (self.scalar, self.vector, self.percell):
            gmsh.view.write(view, path, append=True)

    def close(self):
        gmsh.finalize()

    def counts(self):
        out = {}
        for kind, conn in self.cells:
            out[kind] = out.get(kind, 0) + len(conn)
        return out

    def boundary_triangles(self):
        """Faces that only one cell has, counted independently of the tool: a triangle is
        one boundary triangle, a quadrilateral two."""
        seen = {}
        for kind, conn in self.cells:
            for row in conn.tolist():
                for face in FACES[kind]:
                    key = tuple(sorted(row[c] for c in face))
                    seen[key] = seen.get(key, 0) + 1
        return sum(len(k) - 2 for k, n in seen.items() if n == 1)

    def meshio_mesh(self, step):
        return meshio.Mesh(self.points, [(k, c) for k, c in self.cells],
                           point_data={"temperature": value_at(self.points, step)})


def box_tetrahedra():
    gmsh.model.occ.addBox(0, 0, 0, 2, 1, 1)
    gmsh.model.occ.synchronize()
    gmsh.option.setNumber("Mesh.MeshSizeMax", 0.4)
    gmsh.model.mesh.generate(3)


def sphere_tetrahedra():
    gmsh.model.occ.addSphere(0, 0, 0, 1)
    gmsh.model.occ.synchronize()
    gmsh.option.setNumber("Mesh.MeshSizeMax", 0.5)
    gmsh.model.mesh.generate(3)


def box_hexahedra_wedges():
    """Two unit squares side by side, one of quadrilaterals and one of triangles, extruded
    in two layers: hexahedra beside wedges, sharing quadrilateral faces."""
    geo = gmsh.model.geo
    p = [geo.addPoint(x, y, 0) for x, y in ((0, 0), (1, 0), (2, 0), (2, 1), (1, 1), (0, 1))]
    lines = [geo.addLine(p[i], p[(i + 1) % 6]) for i in range(6)]
    middle = geo.addLine(p[1], p[4])
    left = geo.addPlaneSurface([geo.addCurveLoop([lines[0], middle, lines[4], lines[5]])])
    right = geo.addPlaneSurface([geo.addCurveLoop([lines[1], lines[2], lines[3], -middle])])
    geo.synchronize()
    for line in lines + [middle]:
        geo.mesh.setTransfiniteCurve(line, 4)
    geo.mesh.setTransfiniteSurface(left)
    geo.mesh.setRecombine(2, left)
    geo.extrude([(2, left), (2, right)], 0, 0, 1, numElements=[2], recombine=True)
    geo.synchronize()
    gmsh.model.mesh.generate(3)


class ConvertTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="qem-convert-test-")
        cls.cwd = os.getcwd()
        os.chdir(cls.dir)  # meshio's XDMF writer puts its .h5 file in the current folder
        cls.models = {}
        for name, build in (("box", box_tetrahedra), ("sphere", sphere_tetrahedra), ("hexwedge", box_hexahedra_wedges)):
            model = GmshModel(build)
            model.write(cls.path(name + ".msh"))
            if name == "box":
                model.write(cls.path("box22.msh"), version=2.2)
                model.write(cls.path("box41b.msh"), binary=True)
                model.write(cls.path("box22b.msh"), version=2.2, binary=True)
            model.close()
            cls.models[name] = model

    @classmethod
    def tearDownClass(cls):
        os.chdir(cls.cwd)
        shutil.rmtree(cls.dir)

    @classmethod
    def path(cls, name):
        return os.path.join(cls.dir, name)

    def data(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def convert(self, source, target, *options):
        code, out, err = run(self.path(source), self.path(target), *options)
        self.assertEqual(code, 0, err)
        return out, err

    def assert_loads(self, name):
        code, info = qem_info(self.path(name))
        self.assertEqual(code, 0, info)
        return info

    def assert_no_holes(self, name):
        """Under back-face culling every outer face shows: every triangle of every element
        winds counter-clockwise seen from outside its element, and the boundary is closed
        (each edge of a boundary triangle is walked once each way)."""
        points, elements, _, _ = read_qem(self.path(name))
        p = points.astype(np.float64)
        counts = {}
        for tris in elements:
            centre = p[np.unique(tris)].mean(axis=0)
            a, b, c = p[tris[:, 0]], p[tris[:, 1]], p[tris[:, 2]]
            outward = np.einsum("ij,ij->i", np.cross(b - a, c - a), (a + b + c) / 3 - centre)
            self.assertTrue((outward > 0).all(), "a triangle faces into its element in %s" % name)
            for t in tris.tolist():
                key = tuple(sorted(t))
                counts[key] = counts.get(key, 0) + 1
        edges = set()
        for tris in elements:
            for t in tris.tolist():
                if counts[tuple(sorted(t))] == 1:
                    edges.update(((t[0], t[1]), (t[1], t[2]), (t[2], t[0])))
        self.assertTrue(edges)
        self.assertTrue(all((b, a) in edges for a, b in edges), "the boundary of %s has a hole" % name)

    # ---- Gmsh

    def test_gmsh_meshes_keep_their_cells_boundary_and_every_time_step(self):
        for name in ("box", "sphere", "hexwedge"):
            with self.subTest(name):
                model = self.models[name]
                out, _ = self.convert(name + ".msh", name + ".qem", "--field", "temperature")
                points, elements, times, values = read_qem(self.path(name + ".qem"))
                self.assertEqual(len(points), len(model.points))
                kinds = {}
                for e in elements:
                    kind = {4: "tetra", 8: "wedge", 12: "hexahedron"}[len(e)]
                    kinds[kind] = kinds.get(kind, 0) + 1
                self.assertEqual(kinds, model.counts())
                self.assertEqual(times.tolist(), TIMES)
                # Gmsh's vertices keep their order (all of them belong to a 3-D cell here).
                for step in range(3):
                    expected = value_at(model.points, step).astype(np.float32)
                    np.testing.assert_array_equal(values[step], expected)
                np.testing.assert_array_equal(points, model.points.astype(np.float32))
                info = self.assert_loads(name + ".qem")
                self.assertEqual(info["boundaryTriangles"], model.boundary_triangles())
                self.assertEqual(info["frames"], 3)
                self.assert_no_holes(name + ".qem")
                self.assertIn("3 frames, time 0 to 1.25", out)
                self.assertIn("left out: ", out)

    def test_hexahedra_and_wedges_are_split_into_twelve_and_eight_triangles(self):
        self.convert("hexwedge.msh", "hw.qem", "--field", "temperature")
        _, elements, _, _ = read_qem(self.path("hw.qem"))
        self.assertEqual(sorted({len(e) for e in elements}), [8, 12])
        out, _ = self.convert("hexwedge.msh", "hw.qem", "--field", "temperature")
        counts = self.models["hexwedge"].counts()
        self.assertIn("%d hexahedra" % counts["hexahedron"], out)
        self.assertIn("%d wedges" % counts["wedge"], out)

    def test_every_msh_version_and_encoding_gives_the_same_file(self):
        self.convert("box.msh", "box41.qem")
        reference = self.data("box41.qem")
        for name in ("box22.msh", "box41b.msh", "box22b.msh"):
            with self.subTest(name):
                self.convert(name, "other.qem")
                self.assertEqual(self.data("other.qem"), reference)

    def test_vector_component_and_magnitude(self):
        model = self.models["box"]
        for component, expected in (("x", lambda p, s: p[:, 0] * (s + 1)), ("y", lambda p, s: p[:, 1]),
                                    ("z", lambda p, s: np.full(len(p), 2.0)),
                                    ("magnitude", lambda p, s: np.sqrt((p[:, 0] * (s + 1)) ** 2 + p[:, 1] ** 2 + 4))):
            with self.subTest(component):
                self.convert("box.msh", "v.qem", "--field", "displacement", "--component", component)
                _, _, _, values = read_qem(self.path("v.qem"))
                for step in range(3):
                    np.testing.assert_allclose(values[step], expected(model.points, step), rtol=1e-6)

    def test_cell_data_is_averaged_over_the_cells_around_each_vertex(self):
        model = self.models["box"]
        out, _ = self.convert("box.msh", "c.qem", "--field", "pressure")
        self.assertIn("cell data averaged", out)
        _, _, times, values = read_qem(self.path("c.qem"))
        self.assertEqual(times.tolist(), TIMES)
        conn = model.cells[0][1]
        for vertex in (0, 7, len(model.points) // 2):
            around = np.flatnonzero((conn == vertex).any(axis=1))
            for step in range(3):
                self.assertAlmostEqual(float(values[step][vertex]), float(model.cell_values[step][around].mean()),
                                       places=3)

    def test_list_shows_the_arrays(self):
        code, out, _ = run(self.path("box.msh"), "--list")
        self.assertEqual(code, 0)
        self.assertIn("temperature: point data", out)
        self.assertIn("displacement: point data", out)
        self.assertIn("3 components, 3 time steps (times 0 to 1.25)", out)
        self.assertIn("pressure: cell data", out)

    # ---- meshio's formats

    def test_vtk_formats_and_xdmf_give_the_values_and_times(self):
        model = self.models["hexwedge"]
        meshio.write(self.path("one.vtu"), model.meshio_mesh(1))
        meshio.write(self.path("one.vtk"), model.meshio_mesh(1), binary=False)
        with meshio.xdmf.TimeSeriesWriter(self.path("series.xdmf")) as writer:
            writer.write_points_cells(model.points, [(k, c) for k, c in model.cells])
            for step, t in enumerate(TIMES):
                writer.write_data(t, point_data={"temperature": value_at(model.points, step)})
        entries = []
        for step, t in enumerate(TIMES):
            meshio.write(self.path("series_%d.vtu" % step), model.meshio_mesh(step))
            entries.append('<DataSet timestep="%r" file="series_%d.vtu"/>' % (t, step))
        with open(self.path("series.pvd"), "w") as f:
            f.write('<?xml version="1.0"?><VTKFile type="Collection"><Collection>%s</Collection></VTKFile>'
                    % "".join(entries))
        self.convert("hexwedge.msh", "from-msh.qem", "--field", "temperature")
        reference = self.data("from-msh.qem")
        for name in ("series.xdmf", "series.pvd"):
            with self.subTest(name):
                self.convert(name, "series.qem")
                self.assertEqual(self.data("series.qem"), reference)
        for name in ("one.vtu", "one.vtk"):
            with self.subTest(name):
                out, _ = self.convert(name, "one.qem")
                points, elements, times, values = read_qem(self.path("one.qem"))
                self.assertEqual(times.tolist(), [0.0])
                self.assertEqual(len(elements), sum(model.counts().values()))
                for vertex in (0, 5, len(points) - 1):
                    self.assertEqual(values[0][vertex], np.float32(value_at(model.points[vertex:vertex + 1], 1)[0]))
                self.assertEqual(self.assert_loads("one.qem")["boundaryTriangles"], model.boundary_triangles())
                self.assert_no_holes("one.qem")
                self.assertIn("1 frame, time 0 to 0", out)

    def test_other_meshio_format_and_lower_dimensional_cells_left_out(self):
        model = self.models["box"]
        mesh = meshio.Mesh(model.points, [("triangle", np.array([[0, 1, 2]])), ("tetra", model.cells[0][1])],
                           point_data={"u": model.points[:, 2]})
        meshio.write(self.path("box.inp"), mesh)
        out, _ = self.convert("box.inp", "inp.qem")
        self.assertIn("left out: 1 triangle", out)
        _, elements, _, _ = read_qem(self.path("inp.qem"))
        self.assertEqual(len(elements), len(model.cells[0][1]))
        self.assert_loads("inp.qem")

    def test_unused_vertices_are_dropped_and_the_rest_renumbered(self):
        points = np.array([[9, 9, 9], [0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]], dtype=np.float64)
        meshio.write(self.path("tet.vtu"), meshio.Mesh(points, [("tetra", np.array([[1, 2, 3, 4]]))],
                                                       point_data={"u": np.arange(5.0)}))
        out, _ = self.convert("tet.vtu", "tet.qem")
        self.assertIn("1 unused vertices", out)
        p, elements, _, values = read_qem(self.path("tet.qem"))
        self.assertEqual(p.tolist(), points[1:].tolist())
        self.assertEqual(values[0].tolist(), [1, 2, 3, 4])
        self.assertEqual(sorted(np.unique(elements[0]).tolist()), [0, 1, 2, 3])

    def test_a_mesh_without_values_gets_one_frame_of_zeros_and_a_warning(self):
        model = self.models["box"]
        meshio.write(self.path("bare.vtu"), meshio.Mesh(model.points, [("tetra", model.cells[0][1])]))
        out, err = self.convert("bare.vtu", "bare.qem")
        self.assertIn("warning", err)
        _, _, times, values = read_qem(self.path("bare.qem"))
        self.assertEqual(times.tolist(), [0.0])
        self.assertFalse(values.any())
        self.assert_loads("bare.qem")

    # ---- QEM to VTK and back

    def test_qem_to_pvd_and_back_is_the_same_file(self):
        self.convert("hexwedge.msh", "hw.qem", "--field", "temperature")
        self.convert("sphere.msh", "sp.qem", "--field", "displacement", "--component", "magnitude")
        # One element that is none of the four cells: an octahedron of eight triangles.
        # A tetrahedron on one of its faces; both wound inwards (the tool turns them round).
        octahedron = ("QEM\nVERTICES 7\n1 0 0\n-1 0 0\n0 1 0\n0 -1 0\n0 0 1\n0 0 -1\n1 1 1\nELEMENTS 2\n"
                      "0 4 2  2 4 1  1 4 3  3 4 0  2 5 0  1 5 2  3 5 1  0 5 3\n"
                      "0 2 4  0 6 2  0 4 6  2 6 4\n"
                      "FRAMES 2\n0 1 2 3 4 5 6 7\n0.1 -1.5 2.25 1e-07 3.4028235e+38 0.3 7 8\n")
        with open(self.path("octa-by-hand.qem"), "w") as f:
            f.write(octahedron)
        self.convert("octa-by-hand.qem", "octa-by-hand.pvd")
        self.convert("octa-by-hand.pvd", "octa.qem")
        self.assert_no_holes("octa.qem")
        for name, kinds in (("hw", "hexahedra"), ("sp", "tetrahedra"), ("octa", "1 tetrahedra, 1 polyhedra")):
            with self.subTest(name):
                out, _ = self.convert(name + ".qem", name + ".pvd")
                self.assertIn(kinds, out)
                self.convert(name + ".pvd", name + "2.qem")
                self.assertEqual(self.data(name + "2.qem"),
                                 self.data(name + ".qem"))
        # The .vtu files hold real cells with the values as a point array, readable by meshio.
        m = meshio.read(self.path("hw_0002.vtu"))
        self.assertEqual({c.type for c in m.cells}, {"hexahedron", "wedge"})
        self.assertEqual(list(m.point_data), ["value"])
        _, _, _, values = read_qem(self.path("hw.qem"))
        np.testing.assert_array_equal(m.point_data["value"], values[2])

    def test_qem_generate_meshes_become_cells(self):
        for options, kind in (([], "tetrahedra"), (["--hex"], "hexahedra")):
            with self.subTest(kind):
                subprocess.run([QEM_GENERATE, "--size", "3", "2", "2", "--frames", "2", *options, self.path("g.qem")],
                               check=True)
                out, _ = self.convert("g.qem", "g.pvd")
                self.assertIn("%d %s" % (12 * (6 if kind == "tetrahedra" else 1), kind), out)
                m = meshio.read(self.path("g_0001.vtu"))
                for block in m.cells:  # every cell the right way round (positive volume)
                    p = m.points[block.data]
                    v = np.einsum("ij,ij->i", p[:, 1] - p[:, 0], np.cross(p[:, 2] - p[:, 0], p[:, -1] - p[:, 0]))
                    self.assertTrue((v > 0).all())
                self.convert("g.pvd", "g2.qem")
                self.assertEqual(self.assert_loads("g2.qem")["boundaryTriangles"],
                                 self.assert_loads("g.qem")["boundaryTriangles"])
                self.assert_no_holes("g2.qem")

    def test_floats_are_written_shortest_and_read_back_the_same(self):
        rng = np.random.default_rng(5)
        values = np.concatenate([rng.standard_normal(20000) * 10.0 ** rng.integers(-30, 30, 20000),
                                 [0.1, 1e-45, 3.4028235e38, -0.0, 16777217, 0.3]]).astype(np.float32)
        texts = tool.shortest_floats(values)
        back = np.array(texts, dtype=np.float64).astype(np.float32)
        np.testing.assert_array_equal(back, values)
        self.assertEqual(texts[-6:], ["0.1", "1e-45", "3.4028235e+38", "-0", "16777216", "0.3"])

        def digits(text):
            return len(text.split("e")[0].lstrip("-").replace(".", "").strip("0"))
        subnormal = np.float32(1e-40) * rng.random(1000).astype(np.float32)
        short = (rng.integers(1, 999999, 3000) / 10.0 ** rng.integers(-12, 12, 3000)).astype(np.float32)
        sample = np.concatenate([values[:3000], subnormal, short])
        texts = tool.shortest_floats(sample)
        np.testing.assert_array_equal(np.array(texts, dtype=np.float64).astype(np.float32), sample)
        for text, value in zip(texts, sample):
            self.assertLessEqual(digits(text), digits(np.format_float_scientific(value, unique=True)), text)

    # ---- errors

    def test_errors_and_their_exit_codes(self):
        with open(self.path("garbage.msh"), "w") as f:
            f.write("$MeshFormat\n4.1 0 8\n$EndMeshFormat\n$Nodes\nthis is not a mesh\n")
        with open(self.path("garbage.vtu"), "w") as f:
            f.write("<VTKFile")
        model = self.models["box"]
        meshio.write(self.path("flat.vtu"), meshio.Mesh(model.points, [("triangle", np.array([[0, 1, 2]]))]))
        with open(self.path("backwards.pvd"), "w") as f:
            f.write('<VTKFile type="Collection"><Collection><DataSet timestep="1.5" file="tet.vtu"/>'
                    '<DataSet timestep="0.25" file="tet.vtu"/></Collection></VTKFile>')
        meshio.write(self.path("tet.vtu"), meshio.Mesh(
            np.eye(4)[:, :3], [("tetra", np.array([[0, 1, 2, 3]]))], point_data={"u": np.zeros(4)}))
        cases = [
            ((), 3, "expected"),
            (("box.msh",), 3, "expected INPUT OUTPUT"),
            (("box.msh", "out.qem", "--bogus"), 3, "unknown option"),
            (("box.msh", "out.txt"), 3, "output must be"),
            (("box.msh", "out.qem", "--field", "nothing"), 3, "no array nothing"),
            (("box.msh", "out.qem", "--field", "displacement"), 3, "--component"),
            (("box.msh", "out.qem", "--component", "w"), 3, "x, y, z or magnitude"),
            (("same.qem", "same.qem"), 3, "overwrite"),
            (("missing.msh", "out.qem"), 2, "cannot read"),
            (("box.msh", "no-such-folder/out.qem"), 2, "cannot write"),
            (("garbage.msh", "out.qem"), 1, "garbage.msh"),
            (("garbage.vtu", "out.qem"), 1, "garbage.vtu"),
            (("flat.vtu", "out.qem"), 1, "no 3-D cells (only 1 triangle)"),
            (("backwards.pvd", "out.qem"), 1, "backwards.pvd: the times do not increase: 0.25 after 1.5"),
        ]
        for args, code, message in cases:
            with self.subTest(args):
                got, _, err = run(*[self.path(a) if a.endswith((".msh", ".qem", ".vtu", ".pvd", ".txt")) else a
                                    for a in args])
                self.assertEqual(got, code, err)
                self.assertIn(message, err)
                self.assertFalse(os.path.exists(self.path("out.qem")))
                self.assertEqual([n for n in os.listdir(self.dir) if n.endswith(".tmp")], [])

    def test_a_failed_write_leaves_nothing_behind(self):
        """The last step, the rename onto the output, fails (a folder stands there): no
        temporary file stays, and a collection's .vtu files go too."""
        for name in ("taken1.qem", "taken2.pvd"):
            with self.subTest(name):
                os.makedirs(self.path(name + "/inside"))
                code, _, err = run(self.path("box.msh"), self.path(name))
                self.assertEqual(code, 2, err)
                self.assertIn("cannot write", err)
                stem = name[:6]
                self.assertEqual([n for n in os.listdir(self.dir) if n.startswith((stem, "." + stem))], [name])

    def test_the_command_itself(self):
        """The script as installed: its interpreter has the libraries, and its exit codes."""
        ok = subprocess.run([CONVERT, self.path("box.msh"), self.path("cmd.qem"), "--quiet"],
                            capture_output=True, text=True)
        self.assertEqual(ok.returncode, 0, ok.stderr)
        self.assertEqual(ok.stderr, "")
        self.assertTrue(ok.stdout.startswith(self.path("cmd.qem") + ": "))
        self.assertEqual(len(ok.stdout.splitlines()), 1)
        bad = subprocess.run([CONVERT], capture_output=True, text=True)
        self.assertEqual(bad.returncode, 3)


if __name__ == "__main__":
    unittest.main()
