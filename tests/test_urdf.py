"""URDF import: tree walk, frames, limits, inertias, refusals and real robots."""
import math
import os
import re
import subprocess
import sys
import tempfile
import threading
import xml.etree.ElementTree as ET
from pathlib import Path
from xml.parsers import expat

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import kavrel
from kavrel import parse_urdf_file, parse_urdf_from_string
from kinematic_trees import rpy_matrix

PREFIX = "Failed to parse URDF: "
BAD_STRING = PREFIX + "Failed to parse URDF from string"
ARM = Path(__file__).resolve().parents[1] / "examples" / "robots" / "kavrel_arm.urdf"
ROBOTS = ["ur3e", "gen3_6dof", "panda", "iiwa14", "go2", "anymal_c", "h1_2", "g1", "atlas", "icub", "pr2",
          "allegro", "cassie", "bench/iiwa", "bench/hyq", "bench/hyq_floating", "bench/atlas",
          "bench/atlas_floating"]
DIMS = {"revolute": (1, 1), "continuous": (2, 1), "prismatic": (1, 1), "fixed": (0, 0),
        "floating": (7, 6), "planar": (4, 3), "spherical": (4, 3)}


def link(name, inertial=None):
    return f'<link name="{name}"><inertial>{inertial}</inertial></link>' if inertial else f'<link name="{name}"/>'


def joint(name, parent, child, kind="revolute", extra=""):
    return (f'<joint name="{name}" type="{kind}"><parent link="{parent}"/>'
            f'<child link="{child}"/>{extra}</joint>')


def robot(*parts, name="r"):
    return f'<robot name="{name}">{"".join(parts)}</robot>'


def two_links(extra="", kind="revolute", inertial=None):
    return robot(link("a"), link("b", inertial), joint("j", "a", "b", kind, extra))


def attribute(parent, tag, key, default="0"):
    element = None if parent is None else parent.find(tag)
    return default if element is None else element.get(key, default)


def frames(model):
    return re.findall(r"Frame \d+: (\S*) \(type: FrameType\((\w+)\), parent: (\d+)\)",
                      model.to_string_info())


def axis_rotation(axis, angle):
    k = np.array([[0, -axis[2], axis[1]], [axis[2], 0, -axis[0]], [-axis[1], axis[0], 0]])
    return np.eye(3) + math.sin(angle) * k + (1 - math.cos(angle)) * k @ k


def test_single_link_is_welded_to_the_world():
    model = parse_urdf_from_string(robot(link("base", '<origin xyz="1 2 3"/><mass value="2"/>'
                                                      '<inertia ixx="1" iyy="2" izz="3"/>'), name="solo"))
    assert (model.name, model.njoints, model.nframes, model.nq, model.nv) == ("solo", 1, 2, 0, 0)
    assert frames(model) == [("universe", "FIXED_JOINT", "0"), ("base", "BODY", "0")]
    mass, lever, rotational = model.get_body_inertia(0)
    assert mass == 2.0 and lever.tolist() == [1, 2, 3] and np.array_equal(rotational, np.diag([1, 2, 3]))


def test_chain_numbering_frames_and_limits():
    model = parse_urdf_from_string(robot(
        link("base"), link("l1"), link("l2", '<mass value="5"/>'),
        joint("j1", "base", "l1", extra='<limit lower="-1" upper="2"/>'), joint("j2", "l1", "l2", "fixed")))
    assert model.names == ["universe", "j1", "j2"] and model.parents == [0, 0, 1]
    assert (model.nq, model.nv, model.get_body_inertia(2)[0]) == (1, 1, 5.0)
    assert frames(model) == [("universe", "FIXED_JOINT", "0"), ("base", "BODY", "0"), ("j1", "JOINT", "1"),
                             ("l1", "BODY", "1"), ("j2", "JOINT", "2"), ("l2", "BODY", "2")]
    assert model.lowerPositionLimit.tolist() == [-1] and model.upperPositionLimit.tolist() == [2]


@pytest.mark.parametrize("kind", DIMS)
def test_every_kind_sets_nv_limits(kind):
    # The second joint has no <limit>: it reads as lower = upper = 0.
    nq, nv = DIMS[kind]
    model = parse_urdf_from_string(robot(link("a"), link("b"), link("c"), joint("k", "b", "c"), joint(
        "j", "a", "b", kind, '<limit lower="-0.5" upper="0.75" effort="1"/>')))
    assert (model.nq, model.nv) == (nq + 1, nv + 1)
    assert model.lowerPositionLimit.tolist() == [-0.5] * nv + [0]
    assert model.upperPositionLimit.tolist() == [0.75] * nv + [0]


def test_depth_first_preorder_in_document_order():
    model = parse_urdf_from_string(robot(
        joint("ab", "a", "b"), link("a"), joint("ra", "r", "a"), joint("rc", "r", "c"), link("r"),
        joint("bd", "b", "d"), link("b"), link("c"), joint("ae", "a", "é"), link("d"), link("é")))
    assert model.names == ["universe", "ra", "ab", "bd", "ae", "rc"]
    assert model.parents == [0, 0, 1, 2, 1, 0]
    assert [f[0] for f in frames(model)] == ["universe", "r", "ra", "a", "ab", "b", "bd", "d", "ae", "é",
                                             "rc", "c"]


@pytest.mark.parametrize("parts,names", [
    # Second root candidate, a missing child link, an unreachable parent, an unreachable cycle.
    ((link("base"), link("other"), link("x"), link("y"), joint("j1", "base", "x"),
      joint("ghost", "base", "missing"), joint("j2", "other", "y")), ["universe", "j1"]),
    ((link("r"), link("a"), link("b"), joint("ab", "a", "b"), joint("ba", "b", "a")), ["universe"]),
])
def test_unreachable_parts_are_ignored(parts, names):
    assert parse_urdf_from_string(robot(*parts)).names == names


Z3 = np.zeros((3, 3))


@pytest.mark.parametrize("inertial,mass,lever,rotational", [
    ('<origin xyz="1 2 3"/><mass value="0"/><inertia ixx="1" iyy="1" izz="1"/>', 0, [0, 0, 0], Z3),
    ('<origin xyz="1 2 3"/><inertia ixx="1" iyy="1" izz="1"/>', 0, [0, 0, 0], Z3),
    ('<origin xyz="1 2 3"/><mass value="2"/>', 2, [1, 2, 3], Z3),
    ('<mass value="-1"/><inertia ixx="1" ixy="0.5" iyy="2" izz="3"/>', -1, [0, 0, 0],
     [[1, 0.5, 0], [0.5, 2, 0], [0, 0, 3]]),
    ('<origin rpy="0 0 1.5707963267948966"/><mass value="1"/><inertia ixx="1" iyy="2" izz="3"/>', 1,
     [0, 0, 0], np.diag([2.0, 1.0, 3.0])),
])
def test_inertia_conversion(inertial, mass, lever, rotational):
    got = parse_urdf_from_string(two_links(inertial=inertial)).get_body_inertia(1)
    assert got[0] == mass and got[1].tolist() == lever
    np.testing.assert_allclose(got[2], rotational, atol=1e-15)


@pytest.mark.parametrize("kind,axis,q", [
    ("fixed", "1 0 0", []), ("revolute", "0 3 4", [0.7]), ("revolute", None, [0.7]),
    ("continuous", "1 1 0", [math.cos(-2.0), math.sin(-2.0)]), ("prismatic", "0 0 2", [0.3]),
])
def test_placement_and_axis(kind, axis, q):
    xyz, rpy = np.array([0.1, -0.2, 0.3]), (0.4, -0.5, 0.6)
    extra = '<origin xyz="0.1 -0.2 0.3" rpy="0.4 -0.5 0.6"/>' + (f'<axis xyz="{axis}"/>' if axis else "")
    model = parse_urdf_from_string(two_links(extra, kind))
    data = model.createData()
    kavrel.forwardKinematics(model, data, np.array(q))
    u = np.array([float(x) for x in (axis or "1 0 0").split()])
    u /= np.linalg.norm(u)
    expected = np.eye(4)
    expected[:3, :3], expected[:3, 3] = rpy_matrix(*rpy), xyz
    if kind in ("revolute", "continuous"):
        expected[:3, :3] = expected[:3, :3] @ axis_rotation(u, math.atan2(q[-1], q[0]) if len(q) == 2 else q[0])
    elif kind == "prismatic":
        expected[:3, 3] += expected[:3, :3] @ (q[0] * u)
    np.testing.assert_allclose(data.oMi[1].homogeneous, expected, atol=1e-14)


@pytest.mark.parametrize("text,value", [
    ("+1.5", 1.5), (" 2.5\t", 2.5), ("1e-3", 1e-3), (".5", 0.5), ("5.", 5.0), ("1E2", 100.0),
    ("inf", math.inf), ("-INF", -math.inf), ("+infinity", math.inf), ("00012", 12.0), *((bad, None) for bad in (
        "1,5", "1.5x", "", " ", "abc", "+-1", "++1", "- 1", "0x10", "1e999", "1 2", "1_0", "\u0661", "nan(",
        "nan", "-NaN", "nan(12)")),
])
def test_numbers(text, value):
    document = two_links(f'<limit lower="-1" upper="{text}"/>')
    if value is None:
        with pytest.raises(RuntimeError, match=f"^{BAD_STRING}$"):
            parse_urdf_from_string(document)
    else:
        assert parse_urdf_from_string(document).upperPositionLimit[0] == value


@pytest.mark.parametrize("text,value", [
    ("1\t2\n3", [1, 2, 3]), ("  1   2 3  ", [1, 2, 3]), ("+1 -2 3e0", [1, -2, 3]),
    ("1 2", None), ("1 2 3 4", None), ("1 2 x", None), ("", None), ("1,2,3", None),
])
def test_triples(text, value):
    # Inertial origin, joint origin and axis read triples alike.
    documents = [two_links(inertial=f'<origin xyz="{text}"/><mass value="1"/>'),
                 two_links(f'<origin rpy="{text}"/>'), two_links(f'<axis xyz="{text}"/>')]
    for document in documents if value is None else ():
        with pytest.raises(RuntimeError, match=f"^{BAD_STRING}$"):
            parse_urdf_from_string(document)
    if value is not None:
        models = [parse_urdf_from_string(document) for document in documents]
        assert models[0].get_body_inertia(1)[1].tolist() == value


@pytest.mark.parametrize("text", ["nan", "NaN", "nan(12)", "inf", "+inf", "-INF", "infinity"])
def test_non_finite_values_are_refused_outside_limits(text):
    triple = f"0 {text} 0"
    documents = [two_links(inertial=f'<origin {key}="{triple}"/><mass value="1"/>') for key in ("xyz", "rpy")]
    documents += [two_links(f'<origin {key}="{triple}"/>') for key in ("xyz", "rpy")]
    documents += [two_links(f'<axis xyz="{triple}"/>'), two_links(inertial=f'<mass value="{text}"/>')]
    documents += [two_links(inertial=f'<mass value="1"/><inertia {key}="{text}"/>')
                  for key in ("ixx", "ixy", "ixz", "iyy", "iyz", "izz")]
    for document in documents:
        with pytest.raises(RuntimeError, match=f"^{BAD_STRING}$"):
            parse_urdf_from_string(document)


def test_unread_elements_are_ignored_whatever_they_hold():
    junk = ('<mimic joint="?" multiplier="x"/><dynamics damping="x"/><safety_controller k_velocity="x"/>'
            '<calibration rising="x"/><limit effort="lots" velocity="x"/>')
    document = robot(
        '<transmission name="t"><joint name="only_a_name"/><actuator/></transmission>',
        '<gazebo reference="a"><link/><joint/></gazebo><material name="m"><color rgba="x"/></material>',
        '<link name="a" xmlns:d="urn:x"><visual><origin xyz="bad"/></visual><collision><origin rpy="1"/>'
        '</collision><d:inertial><mass value="x"/></d:inertial></link>', link("b"),
        '<d:joint xmlns:d="urn:x" name="q" type="ball"/>', joint("j", "a", "b", "revolute", junk))
    assert parse_urdf_from_string(document).names == ["universe", "j"]


INVALID = [
    "not xml", "", "   ", "\x00\x01\x02\xff\xfe", robot(link("a"))[:-4], "<robot name='r'><link name='a'/>",
    '<model name="r"><link name="a"/></model>', robot(link("a")) + robot(link("b")),
    robot(link("a")) + "tail", robot(link("a")) + "\x00", robot(link("a\x01")),
    '<robot name="r" name="s"><link name="a"/></robot>', '<robot><link name="a"/></robot>',
    robot("<link/>"), robot(link("a"), link("b"), '<joint type="fixed"><parent link="a"/><child link="b"/></joint>'),
    robot(link("a"), link("b"), '<joint name="j"><parent link="a"/><child link="b"/></joint>'),
    robot(link("a"), link("b"), '<joint name="j" type="fixed"><child link="b"/></joint>'),
    robot(link("a"), link("b"), '<joint name="j" type="fixed"><parent/><child link="b"/></joint>'),
    robot(link("a"), link("b"), '<joint name="j" type="fixed"><parent link="a"/></joint>'),
    two_links(kind="ball"), two_links(kind="Revolute"), two_links(inertial='<mass value="1kg"/>'),
    two_links(inertial='<inertia ixy="a"/>'), two_links(inertial='<origin rpy="0 0"/>'),
    two_links('<limit upper="high"/>'),
]


@pytest.mark.parametrize("document", INVALID)
def test_invalid_documents(document, capfd):
    with pytest.raises(RuntimeError) as raised:
        parse_urdf_from_string(document)
    assert str(raised.value) == BAD_STRING and capfd.readouterr() == ("", "")


def named(name, prolog=""):
    """Two links and a fixed joint called `name`, after an optional prolog."""
    return prolog + robot(link("a"), link("b"), joint(name, "a", "b", "fixed"))


def doctype(declarations):
    return f"<!DOCTYPE robot [{declarations}]>"


LAUGHS = doctype('<!ENTITY a0 "lol">' + "".join(f'<!ENTITY a{i} "{f"&a{i - 1};" * 10}">' for i in range(1, 10)))
BIG = doctype(f'<!ENTITY big "{"x" * 100_000}">')
EXTERNAL = '<!DOCTYPE robot SYSTEM "robot.dtd">'


@pytest.mark.parametrize("document", [
    *(named(f"x&#{code};") for code in ("xD800", "x110000", "99999999999", "0", "1", "xFFFE")),
    named("a & b"), named("a < b"), named("&undeclared;"), robot(link("a"), "]]>"), robot("<!-- a -- b -->", link("a")),
    ' <?xml version="1.0"?>' + named("j"), named("j") + "<!DOCTYPE robot>", named("j", "<!DOCTYPE a><!DOCTYPE b>"),
    named("&e;", doctype('<!ENTITY e "&e;">')), named("&e;", doctype("<!ENTITY e '<'>")),
    named("&e;", doctype('<!ENTITY e SYSTEM "e.txt">')), pytest.param(named("&a9;", LAUGHS), id="laughs-in-name"),
    pytest.param(LAUGHS + robot(link("a"), "&a9;"), id="laughs-in-text"),
    pytest.param(BIG + robot(link("a"), "&big;" * 10_000), id="one-entity-many-times"),
])
def test_ill_formed_xml_is_refused(document):
    with pytest.raises(ET.ParseError):
        ET.fromstring(document)
    with pytest.raises(RuntimeError) as raised:
        parse_urdf_from_string(document)
    assert str(raised.value) == BAD_STRING


@pytest.mark.parametrize("document,name", [
    (named("x&#x1F600;&#65;&amp;&lt;&gt;&quot;&apos;"), "x\U0001F600A&<>\"'"),
    (named("&e;", doctype('<!ENTITY e "EXP">')), "EXP"),
    (named("&e;", doctype('<!ENTITY e "&f;&#x20;&f;"><!ENTITY f "F">')), "F F"),
    (named("&e;", doctype("<!ENTITY % p \"<!ENTITY e 'PE'>\"> %p;")), "PE"),
    (doctype('<!ATTLIST joint name CDATA "default">') + robot(
        link("a"), link("b"), '<joint type="fixed"><parent link="a"/><child link="b"/></joint>'), "default"),
    (named("j", '<?xml version="1.0" standalone="yes"?>' + EXTERNAL), "j"),
    # Complete only with an external DTD or entity, which is never read.
    (named("j", EXTERNAL), None), (named("a&e;b", EXTERNAL), None),
    (named("j", '<!DOCTYPE robot PUBLIC "-//x" "robot.dtd">'), None),
    (named("j", doctype('<!ENTITY % p SYSTEM "p.dtd"> %p;')), None), (named("j", doctype("%undeclared;")), None),
    (doctype('<!ENTITY e SYSTEM "e.xml">') + robot(link("a"), "&e;"), None),
])
def test_entities_and_character_references(document, name):
    if name is None:
        with pytest.raises(RuntimeError) as raised:
            parse_urdf_from_string(document)
        assert str(raised.value) == BAD_STRING
    else:
        assert parse_urdf_from_string(document).names == ["universe", name]
        # Python's reader agrees where it expands as much: it skips parameter entities.
        assert "%" in document or ET.fromstring(document).find("joint").get("name") == name


@pytest.mark.parametrize("parts,message", [
    ((link("r"), link("a"), link("b"), joint("ra", "r", "a"), joint("rb", "r", "b"), joint("ba", "b", "a")),
     "Link a is the child of more than one joint"),
    ((link("r"), link("a"), link("b"), joint("ra", "r", "a"), joint("ab", "a", "b"), joint("ba", "b", "a")),
     "Link a is the child of more than one joint"),
    ((link("a"), link("b"), joint("ab", "a", "b"), joint("ba", "b", "a"), joint("xb", "x", "b")),
     "Link b is the child of more than one joint"),
    ((link("a"), joint("aa", "a", "a")), "No root link found in URDF"),
    ((), "No root link found in URDF"),
])
def test_structural_refusals(parts, message):
    with pytest.raises(RuntimeError) as raised:
        parse_urdf_from_string(robot(*parts))
    assert str(raised.value) == PREFIX + message


def test_file_failures(tmp_path, capfd):
    (tmp_path / "latin1.urdf").write_bytes(robot(link("caf\xe9")).encode("latin-1"))
    (tmp_path / "truncated.urdf").write_text(robot(link("a"))[:-3])
    (tmp_path / "empty.urdf").write_text("")
    for path in ["no/such.urdf", str(tmp_path), *(str(tmp_path / n) for n in ("latin1.urdf", "truncated.urdf",
                                                                             "empty.urdf"))]:
        with pytest.raises(RuntimeError) as raised:
            parse_urdf_file(path)
        assert str(raised.value) == PREFIX + "Failed to parse URDF file: " + path
    # Everything after a NUL would be dropped by the C library: such a path names no file.
    with pytest.raises(RuntimeError) as raised:
        parse_urdf_file(str(ARM) + "\x00x")
    assert str(raised.value) == PREFIX + "Failed to parse URDF file: " + str(ARM) + "\x00x"
    assert capfd.readouterr() == ("", "")


@pytest.mark.parametrize("encoding", ["utf-8-sig", "utf-16"])
def test_file_with_byte_order_mark_and_crlf(tmp_path, encoding):
    path = tmp_path / "bom.urdf"
    path.write_bytes(two_links().replace("><", ">\r\n<").encode(encoding))
    assert parse_urdf_file(str(path)).names == ["universe", "j"]


def test_file_size_limit(tmp_path):
    # Exactly 256 MiB imports, one byte more does not; neither does an endless file.
    path, document = tmp_path / "padded.urdf", two_links().encode()
    try:
        with open(path, "wb") as f:
            f.write(document)
            for _ in range(256):
                f.write(b" " * (1 << 20))
            f.truncate(256 << 20)
        assert path.stat().st_size == 256 << 20 and parse_urdf_file(str(path)).names == ["universe", "j"]
        with open(path, "ab") as f:
            f.write(b" ")
        for refused in (str(path), "/dev/zero"):
            with pytest.raises(RuntimeError) as raised:
                parse_urdf_file(refused)
            assert str(raised.value) == PREFIX + "Failed to parse URDF file: " + refused
    finally:
        path.unlink(missing_ok=True)  # pytest keeps recent temporary folders


def test_fifo_is_read_without_holding_the_interpreter(tmp_path):
    # The writer is another process, so that a held lock shows as a thread that stood still, not as a hang.
    fifo, source = tmp_path / "robot.fifo", tmp_path / "robot.urdf"
    source.write_text(two_links())
    os.mkfifo(fifo)
    writer = subprocess.Popen([sys.executable, "-c", "import sys, time; time.sleep(0.5); "
                               "open(sys.argv[2], 'wb').write(open(sys.argv[1], 'rb').read())", source, fifo])
    ticks, stop = [0], threading.Event()

    def count():
        while not stop.wait(0.001):
            ticks[0] += 1

    counter = threading.Thread(target=count)
    counter.start()
    try:
        before = ticks[0]
        names = parse_urdf_file(str(fifo)).names
        during = ticks[0] - before
    finally:
        stop.set()
        counter.join()
        writer.wait()
    assert names == ["universe", "j"] and during > 20


def chain(n):
    return robot(*(f'<link name="l{i}"/>' for i in range(n + 1)),
                 *(joint(f"j{i}", f"l{i}", f"l{i + 1}") for i in range(n)))


def test_deep_chain_imports_without_recursion():
    model = parse_urdf_from_string(chain(100_000))
    assert (model.njoints, model.nv, model.parents[-1], model.names[-1]) == (100_001, 100_000, 99_999, "j99999")


def expected_model(path):
    """The import recomputed from the XML: root choice, depth-first order, limits, inertias."""
    root = ET.parse(path).getroot()
    links, joints = {}, root.findall("joint")
    for element in root.findall("link"):
        links.setdefault(element.get("name"), element)
    children = {j.find("child").get("link") for j in joints}
    base = next(e.get("name") for e in root.findall("link") if e.get("name") not in children)
    out = {"names": ["universe"], "nq": 0, "nv": 0, "lower": [], "upper": [], "bodies": [links[base]]}
    stack = [j for j in reversed(joints) if j.find("parent").get("link") == base]
    while stack:
        j = stack.pop()
        nq, nv = DIMS[j.get("type")]
        child = j.find("child").get("link")
        out["names"].append(j.get("name"))
        out["nq"] += nq
        out["nv"] += nv
        out["lower"] += [float(attribute(j, "limit", "lower"))] * nv
        out["upper"] += [float(attribute(j, "limit", "upper"))] * nv
        out["bodies"].append(links[child])
        stack += [k for k in reversed(joints) if k.find("parent").get("link") == child]
    return out


def expected_inertia(link_element):
    inertial = link_element.find("inertial")
    mass = float(attribute(inertial, "mass", "value"))
    if mass == 0.0:
        return 0.0, np.zeros((3, 3))
    i = {k: float(attribute(inertial, "inertia", k)) for k in ("ixx", "ixy", "ixz", "iyy", "iyz", "izz")}
    tensor = np.array([[i["ixx"], i["ixy"], i["ixz"]], [i["ixy"], i["iyy"], i["iyz"]],
                       [i["ixz"], i["iyz"], i["izz"]]])
    r = rpy_matrix(*map(float, attribute(inertial, "origin", "rpy", "0 0 0").split()))
    return mass, r @ tensor @ r.T


@pytest.mark.parametrize("name", ROBOTS + ["kavrel_arm"])
def test_real_robots(name, request):
    path = ARM if name == "kavrel_arm" else request.getfixturevalue("robots_dir") / f"{name}.urdf"
    model, expected = parse_urdf_file(str(path)), expected_model(path)
    assert model.names == expected["names"]
    assert (model.njoints, model.nq, model.nv, model.nframes) == (
        len(expected["names"]), expected["nq"], expected["nv"], 2 * len(expected["names"]))
    assert model.lowerPositionLimit.tolist() == expected["lower"]
    assert model.upperPositionLimit.tolist() == expected["upper"]
    masses, expected_masses = [], []
    for i, body in enumerate(expected["bodies"]):
        mass, rotational = expected_inertia(body)
        got = model.get_body_inertia(i)
        np.testing.assert_allclose(got[2], rotational, rtol=1e-12, atol=1e-15)
        masses.append(got[0])
        expected_masses.append(mass)
    assert masses == expected_masses and sum(masses) == pytest.approx(sum(expected_masses), rel=1e-12)


def test_example_arm():
    model = parse_urdf_file(str(ARM))
    assert (model.njoints, model.nq, model.nv) == (8, 7, 6) and frames(model)[-1] == ("tool", "BODY", "7")
    assert sum(model.get_body_inertia(i)[0] for i in range(8)) == pytest.approx(20.05)


def test_undeclared_world_link_has_no_root(robots_dir):
    with pytest.raises(RuntimeError) as raised:
        parse_urdf_file(str(robots_dir / "pr2_drake.urdf"))
    assert str(raised.value) == PREFIX + "No root link found in URDF"


PIECES = st.one_of(
    st.text(st.sampled_from([*"<>/=\"' \t\nabjxyz01.-+eE&#;!?[]", "\x00", "\xe9", "\uffff", "\U0001d11e"]), max_size=12),
    st.sampled_from(["&#0;", "&#xD800;", "&#65;", "&amp;", "&e;", "]]>", "--", "<?xml version='1.0'?>", "nan",
                     '<!DOCTYPE robot [<!ENTITY e "x">]>', '<!DOCTYPE robot SYSTEM "r.dtd">']))
MUTATION = st.tuples(st.sampled_from(["delete", "insert", "replace", "duplicate", "truncate"]),
                     st.floats(0, 1), st.integers(0, 40), PIECES)
# Byte sequences that are never UTF-8, wherever they land.
BAD_BYTES = st.one_of(st.none(), st.tuples(st.floats(0, 1), st.sampled_from(
    [b"\xff", b"\xc3", b"\xed\xa0\x80", b"\xc0\xaf", b"\xf4\x90\x80\x80"])))


def expat_accepts(document):
    """Python's own expat, without namespaces: URDF files often use prefixes they never declare."""
    try:
        expat.ParserCreate("UTF-8").Parse(document, True)
    except expat.ExpatError:
        return False
    return True


def mutate(text, mutations):
    for kind, where, length, piece in mutations:
        i = int(where * len(text))
        text = {"delete": text[:i] + text[i + length:], "insert": text[:i] + piece + text[i:],
                "replace": text[:i] + piece + text[i + len(piece):], "truncate": text[:i],
                "duplicate": text[:i + length] + text[i:]}[kind]
    return text


@settings(max_examples=150, deadline=2000)
@given(name=st.sampled_from(ROBOTS), mutations=st.lists(MUTATION, min_size=1, max_size=4), bad_bytes=BAD_BYTES)
def test_mutated_robots_fail_cleanly(robots_dir, name, mutations, bad_bytes):
    # File and string agree on every mutant, fail only with RuntimeError, and
    # import nothing that Python's own XML reader refuses.
    text = mutate((robots_dir / f"{name}.urdf").read_text(), mutations)
    data = text.encode()
    if bad_bytes:
        i = int(bad_bytes[0] * len(data))
        data = data[:i] + bad_bytes[1] + data[i:]
    outcomes = []
    with tempfile.NamedTemporaryFile("wb", suffix=".urdf") as f:
        f.write(data)
        f.flush()
        for call, argument in ((parse_urdf_from_string, text), (parse_urdf_file, f.name)):
            try:
                outcomes.append(call(argument).names)
            except RuntimeError as error:
                assert str(error).startswith(PREFIX)
                outcomes.append(None)
    assert (outcomes[1] is None) if bad_bytes else (outcomes[0] == outcomes[1])
    assert outcomes[0] is None or expat_accepts(text)
    assert outcomes[1] is None or expat_accepts(data)
