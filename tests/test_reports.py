"""Text reports of models and workspaces."""
import subprocess
import sys

import numpy as np
import pytest

import kavrel
from kavrel import Data, Model
from kinematic_trees import X, Z, model_of


def chain(n):
    return model_of(*((i, "revolute", Z, [0, 0, 0.25 * (i + 1)]) for i in range(n)))


MODEL_REPORT = """========== Model Information ==========
Model name: {}
Number of joints: {}
Number of frames: {}
Number of bodies: {}
Number of DOF (nq): {}
Number of velocity DOF (nv): {}

========== Joint Information ==========
{}

========== Frame Information ==========
{}
=======================================
"""


@pytest.mark.parametrize("model,report", [
    (Model(), MODEL_REPORT.format("", 1, 1, 1, 0, 0, "Joint 0: universe (parent: 0)",
                                  "Frame 0: universe (type: FrameType(FIXED_JOINT), parent: 0)")),
    (kavrel.parse_urdf_from_string(
        '<robot name="r"><link name="base"/><link name="l1"/><joint name="j1" type="revolute"><parent link="base"/>'
        '<child link="l1"/><axis xyz="0 0 1"/></joint></robot>'),
     MODEL_REPORT.format("r", 2, 4, 2, 1, 1, "Joint 0: universe (parent: 0)\nJoint 1: j1 (parent: 0)",
                         "Frame 0: universe (type: FrameType(FIXED_JOINT), parent: 0)\n"
                         "Frame 1: base (type: FrameType(BODY), parent: 0)\n"
                         "Frame 2: j1 (type: FrameType(JOINT), parent: 1)\n"
                         "Frame 3: l1 (type: FrameType(BODY), parent: 1)")),
])
def test_model_report_lists_every_joint_and_frame(model, report):
    assert str(model) == model.to_string_info() == report


ZERO = "position = [  0.0000,   0.0000,   0.0000]"


# A workspace shows its sizes and placements; at most five placements, in fixed width.
@pytest.mark.parametrize("model,q,sizes,placements", [
    (chain(6), np.zeros(6), (7, 6, 6), [
        f"Joint 0: {ZERO}",
        "Joint 1: position = [  0.0000,   0.0000,   0.2500]",
        "Joint 2: position = [  0.0000,   0.0000,   0.7500]",
        "Joint 3: position = [  0.0000,   0.0000,   1.5000]",
        "Joint 4: position = [  0.0000,   0.0000,   2.5000]",
        "... (2 more joints)"]),
    (model_of((0, "prismatic", X, [0, -0.25, 12345.678])), np.array([-1.5]), (2, 1, 1),
     [f"Joint 0: {ZERO}", "Joint 1: position = [ -1.5000,  -0.2500, 12345.6780]"]),
])
def test_data_report(model, q, sizes, placements):
    kavrel.forwardKinematics(model, data := Data(model), q)
    shown = min(sizes[0], 5)
    assert str(data) == data.to_string_info() == "\n".join([
        "========== Data Information ==========", "Dimensions:", "  njoints: {}".format(sizes[0]),
        "  nq:      {}".format(sizes[1]), "  nv:      {}".format(sizes[2]), "", f"Joint Placements (first {shown}):",
        *("  " + line for line in placements), "=" * 37, ""])


def test_print_info_writes_to_file_descriptor_bypassing_sys_stdout():
    code = ("import io, sys, kavrel\nmodel = kavrel.Model()\nsys.stdout = io.StringIO()\n"
            "model.print_info()\nkavrel.Data(model).print_info()\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert out == str(Model()) + "\n" + str(Data(Model())) + "\n"
