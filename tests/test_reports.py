"""Text reports of models and workspaces."""
import subprocess
import sys

import numpy as np
import pytest

import kavrel
from kavrel import SE3, Data, Model

Z = np.array([0.0, 0.0, 1.0])


def chain(n, kind="revolute"):
    model = Model()
    for i in range(n):
        model.add_joint(i, kind, Z, SE3(np.eye(3), np.array([0.0, 0.0, 0.25 * (i + 1)])), f"link{i + 1}")
    return model


def test_new_model_report():
    assert str(Model()).split("\n") == [
        "========== Model Information ==========",
        "Model name: ",
        "Number of joints: 1",
        "Number of frames: 1",
        "Number of bodies: 1",
        "Number of DOF (nq): 0",
        "Number of velocity DOF (nv): 0",
        "",
        "========== Joint Information ==========",
        "Joint 0: universe (parent: 0)",
        "",
        "========== Frame Information ==========",
        "Frame 0: universe (type: FrameType(FIXED_JOINT), parent: 0)",
        "=" * 39,
        "",
    ]


def test_imported_model_report_lists_every_joint_and_frame():
    model = kavrel.parse_urdf_from_string(
        '<robot name="r"><link name="base"/><link name="l1"/>'
        '<joint name="j1" type="revolute"><parent link="base"/><child link="l1"/>'
        '<axis xyz="0 0 1"/></joint></robot>')
    lines = model.to_string_info().split("\n")
    assert lines[1:7] == ["Model name: r", "Number of joints: 2", "Number of frames: 4", "Number of bodies: 2",
                          "Number of DOF (nq): 1", "Number of velocity DOF (nv): 1"]
    assert lines[9:11] == ["Joint 0: universe (parent: 0)", "Joint 1: j1 (parent: 0)"]
    assert lines[13:17] == [
        "Frame 0: universe (type: FrameType(FIXED_JOINT), parent: 0)",
        "Frame 1: base (type: FrameType(BODY), parent: 0)",
        "Frame 2: j1 (type: FrameType(JOINT), parent: 1)",
        "Frame 3: l1 (type: FrameType(BODY), parent: 1)",
    ]


def test_fresh_data_report_has_only_dimensions_and_placements():
    model = chain(2)
    assert str(Data(model)).split("\n") == [
        "========== Data Information ==========",
        "Dimensions:",
        "  njoints: 3",
        "  nq:      2",
        "  nv:      2",
        "",
        "Joint Placements (first 3):",
        "  Joint 0: position = [  0.0000,   0.0000,   0.0000]",
        "  Joint 1: position = [  0.0000,   0.0000,   0.0000]",
        "  Joint 2: position = [  0.0000,   0.0000,   0.0000]",
        "=" * 37,
        "",
    ]


def test_data_report_truncates_placements():
    model = chain(6)
    data = Data(model)
    kavrel.forwardKinematics(model, data, np.zeros(6))
    lines = data.to_string_info().split("\n")
    assert lines[6] == "Joint Placements (first 5):"
    assert lines[7:13] == [
        "  Joint 0: position = [  0.0000,   0.0000,   0.0000]",
        "  Joint 1: position = [  0.0000,   0.0000,   0.2500]",
        "  Joint 2: position = [  0.0000,   0.0000,   0.7500]",
        "  Joint 3: position = [  0.0000,   0.0000,   1.5000]",
        "  Joint 4: position = [  0.0000,   0.0000,   2.5000]",
        "  ... (2 more joints)",
    ]


def test_placement_format_is_fixed_width():
    model = Model()
    model.add_joint(0, "prismatic", np.array([1.0, 0.0, 0.0]), SE3(np.eye(3), np.array([0.0, -0.25, 12345.678])), "p")
    data = Data(model)
    kavrel.forwardKinematics(model, data, np.array([-1.5]))
    assert "  Joint 1: position = [ -1.5000,  -0.2500, 12345.6780]" in str(data).split("\n")


@pytest.mark.parametrize("obj", [Model(), chain(3), Data(chain(3))])
def test_print_info_writes_report_to_file_descriptor(obj, capfd):
    obj.print_info()
    assert capfd.readouterr().out == obj.to_string_info() + "\n"


def test_print_info_bypasses_sys_stdout():
    code = ("import io, sys, kavrel\n"
            "sys.stdout = io.StringIO()\n"
            "kavrel.Model().print_info()\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert out == str(Model()) + "\n"


def test_report_method_docs():
    assert Model.print_info.__doc__ == "Print model information"
    assert Model.to_string_info.__doc__ == "Get string representation of model information"
    assert Data.to_string_info.__doc__ == "Get string representation of data structure information"
    assert Data.print_info.__doc__ == "Print data structure information"
