import numpy as np

import kdrvx

print(kdrvx.__version__, kdrvx.library_version(), kdrvx.library_path())

values = np.array([[1.0, 20.5, 0.25], [1.5, 20.75, 0.5], [2.0, 21.0, 0.75]], dtype=np.float32)
channels = ["p1", {"variable": "T1", "unit": "degC"}, {"variable": "U1", "unit": "V"}]
with kdrvx.create("example.rvx", channels=channels, scan_interval_us=1000,
                  comment="made with kdrvx", overwrite=True) as writer:
    writer.append(values)

with kdrvx.open("example.rvx") as recording:
    print(recording.header.record_count, "records of", [c.label for c in recording.channels])
    assert (recording.read() == values).all()
