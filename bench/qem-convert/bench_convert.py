#!/usr/bin/python3
"""qem-convert's benchmark (run by hand, never by ./test).

Writes a Gmsh mesh of a box of NX x NY x NZ cubes, six tetrahedra each (109 x 55 x 28 by
default: 1 007 160 tetrahedra, 178 640 nodes) with a view of 10 time steps, then measures,
each in a process of its own and several times:
  - Gmsh alone reading the file (gmsh.open),
  - qem-convert turning it into QEM,
reporting the wall clock, the processor time (user + system) and the peak memory (the
largest resident set) of each. The goal: the conversion takes no more than twice the time
and twice the memory of the reading alone.

  bench_convert.py [--size NX NY NZ] [--steps S] [--runs R] [--text] [--keep DIR]
"""

import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
CONVERT = os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools/qem-convert/qem-convert")


def write_mesh(path, nx, ny, nz, steps, binary):
    import gmsh
    gmsh.initialize(readConfigFiles=False)
    gmsh.option.setNumber("General.Terminal", 0)
    gmsh.model.add("box")
    volume = gmsh.model.addDiscreteEntity(3)
    i, j, k = np.meshgrid(np.arange(nx + 1), np.arange(ny + 1), np.arange(nz + 1), indexing="ij")
    i, j, k = i.transpose(2, 1, 0).ravel(), j.transpose(2, 1, 0).ravel(), k.transpose(2, 1, 0).ravel()
    coords = np.column_stack([i, j, k]).astype(np.float64) * 0.01
    tags = np.arange(1, len(coords) + 1)
    gmsh.model.mesh.addNodes(3, volume, tags, coords.ravel())

    def node(a, b, c):
        return (c * (ny + 1) + b) * (nx + 1) + a + 1
    ci, cj, ck = np.meshgrid(np.arange(nx), np.arange(ny), np.arange(nz), indexing="ij")
    ci, cj, ck = ci.ravel(), cj.ravel(), ck.ravel()
    corner = [node(ci + (b & 1), cj + ((b >> 1) & 1), ck + ((b >> 2) & 1)) for b in range(8)]
    paths = ((1, 3), (1, 5), (2, 3), (2, 6), (4, 5), (4, 6))
    tets = []
    for p, q in paths:  # corner 0, then 0 -> p -> q -> 7, split to keep the volume positive
        a, b, c, d = corner[0], corner[p], corner[q], corner[7]
        tets.append(np.column_stack([a, b, c, d]))
    tets = np.concatenate(tets)
    gmsh.model.mesh.addElementsByType(volume, 4, [], tets.ravel())
    view = gmsh.view.add("wave")
    for s in range(steps):
        t = 0.1 * s
        values = 50 * np.sin(2 * np.pi * (coords[:, 0] / coords[:, 0].max() - t)) + 20 * coords[:, 2]
        gmsh.view.addHomogeneousModelData(view, s, "box", "NodeData", tags, values, t, 1)
    gmsh.option.setNumber("Mesh.Binary", 1 if binary else 0)
    gmsh.option.setNumber("PostProcessing.SaveMesh", 0)
    gmsh.write(path)
    gmsh.view.write(view, path, append=True)
    gmsh.finalize()
    return len(tets), len(coords)


READ_ONLY = r"""
import sys, gmsh
gmsh.initialize(readConfigFiles=False)
gmsh.option.setNumber("General.Terminal", 0)
gmsh.open(sys.argv[1])
gmsh.finalize()
"""


def run(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if result.returncode != 0:
        sys.exit("failed: %s (exit %d)" % (" ".join(command), result.returncode))
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, result.stdout.decode()


def peak_mib(command):
    """The child's peak resident set, from a process of its own (ru_maxrss of the
    children is the largest of all of them so far)."""
    probe = ("import resource, subprocess, sys; subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, "
             "stderr=subprocess.DEVNULL, check=True); "
             "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024)")
    return float(subprocess.run([sys.executable, "-c", probe] + command, stdout=subprocess.PIPE,
                                check=True).stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--size", nargs=3, type=int, default=(109, 55, 28))
    parser.add_argument("--steps", type=int, default=10)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--text", action="store_true", help="a text .msh instead of a binary one")
    parser.add_argument("--keep", help="folder to keep the files in")
    args = parser.parse_args()
    folder = args.keep or tempfile.mkdtemp(prefix="qem-convert-bench-")
    os.makedirs(folder, exist_ok=True)
    msh = os.path.join(folder, "box-%s.msh" % ("text" if args.text else "binary"))
    qem = os.path.join(folder, "box.qem")
    cells, nodes = write_mesh(msh, *args.size, args.steps, not args.text)
    print("%s: %d tetrahedra, %d nodes, %d time steps, %.1f MB" % (
        msh, cells, nodes, args.steps, os.path.getsize(msh) / 1e6))
    print("load average: %.2f %.2f %.2f (2 cores, shared)" % os.getloadavg())
    read = [sys.executable, "-c", READ_ONLY, msh]
    convert = [CONVERT, msh, qem, "--quiet"]
    results = {}
    for name, command in (("Gmsh reads", read), ("qem-convert", convert)):
        runs = [run(command) for _ in range(args.runs)]
        peak = peak_mib(command)
        walls = sorted(r[0] for r in runs)
        cpus = sorted(r[1] for r in runs)
        results[name] = (walls[0], cpus[0], peak)
        print("%-12s wall %.2f-%.2f s, processor %.2f-%.2f s (best of %d), peak memory %.0f MiB" % (
            name, walls[0], walls[-1], cpus[0], cpus[-1], args.runs, peak))
        if name == "qem-convert":
            print("             " + runs[-1][2].strip())
    (rw, rc, rp), (cw, cc, cp) = results["Gmsh reads"], results["qem-convert"]
    print("ratio        wall %.2f, processor %.2f, memory %.2f (goal: at most 2)" % (cw / rw, cc / rc, cp / rp))
    print("QEM file: %.1f MB" % (os.path.getsize(qem) / 1e6))


if __name__ == "__main__":
    main()
