"""Reads a MATLAB v7.3 or HDF5 file that rvx export wrote, with h5py and
scipy.io, and prints what it holds as JSON: the channels in the file's
order with their values as 32-bit patterns, the times, the texts, and the
start (`start`, `start_posix`) where the file has it."""
import json
import sys

import h5py
import numpy as np
import scipy.io.matlab


def empty(dataset):
    """MATLAB keeps the dimensions of an empty array in its place."""
    return bool(dataset.attrs.get("MATLAB_empty"))


def bits(dataset):
    if empty(dataset):
        return {"type": dataset.attrs["MATLAB_class"].decode(), "bits": []}
    values = np.asarray(dataset[()]).ravel()
    kind = str(values.dtype)
    if values.dtype == np.float32:
        values = values.view(np.uint32)
    return {"type": kind, "bits": [int(v) for v in values]}


def storage(dataset):
    """How a column is stored: its chunk length and filters."""
    return {"chunk": max(dataset.chunks or (0,)), "compression": dataset.compression,
            "level": dataset.compression_opts, "shuffle": dataset.shuffle}


def mat_text(node):
    if node.attrs.get("MATLAB_empty"):
        return ""
    return np.asarray(node[()], dtype="<u2").ravel().tobytes().decode("utf-16-le")


def mat_fields(group):
    return [b"".join(name).decode() for name in group.attrs["MATLAB_fields"]]


def read_mat(path):
    major, minor = scipy.io.matlab.matfile_version(path)
    f = h5py.File(path, "r")
    recording = f["recording"]
    time = [] if empty(f["time"]) else f["time"][()].ravel().tolist()
    result = {"version": f"{major}.{minor}", "time": time,
              "time_storage": storage(f["time"]),
              "comment": mat_text(recording["comment"]),
              "scan_interval": float(recording["scan_interval"][()].ravel()[0]), "channels": []}
    if "start" in recording:
        result["start"] = mat_text(recording["start"])
    if "start_posix" in recording:
        result["start_posix"] = float(recording["start_posix"][()].ravel()[0])
    for name in mat_fields(recording["channels"]):
        meta = recording["channels"][name]
        result["channels"].append(dict(bits(f[name]), name=name,
                                       variable=mat_text(meta["variable"]),
                                       unit=mat_text(meta["unit"]),
                                       matlab_class=f[name].attrs["MATLAB_class"].decode(),
                                       storage=storage(f[name])))
    return result


def read_hdf5(path):
    f = h5py.File(path, "r")
    result = {"time": f["time"][()].tolist(), "time_storage": storage(f["time"]),
              "comment": f.attrs["comment"],
              "scan_interval": f.attrs["scan_interval_us"] / 1e6, "channels": []}
    for key in ("start", "start_posix"):
        if key in f.attrs:
            result[key] = f.attrs[key].item() if key == "start_posix" else f.attrs[key]
    for name, dataset in f["channels"].items():
        result["channels"].append(dict(bits(dataset), name=name,
                                       variable=dataset.attrs["variable"],
                                       unit=dataset.attrs["unit"],
                                       compression=dataset.compression,
                                       storage=storage(dataset)))
    return result


kind, path = sys.argv[1:3]
print(json.dumps(read_mat(path) if kind == "mat" else read_hdf5(path)))
