"""URDF import: tree walk, frames, limits, inertias, refusals and real robots."""
import math
import os
import subprocess
import sys
import threading
import time
import xml.etree.ElementTree as ET
from pathlib import Path

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from kavrel import parse_urdf_file, parse_urdf_from_string
from expat_oracle import expat_accepts
from kinematic_trees import SIZES, rpy_matrix

PREFIX = "Failed to parse URDF: "
BAD_STRING = PREFIX + "Failed to parse URDF from string"
BAD_FILE = PREFIX + "Failed to parse URDF file: "
INERTIA = ("ixx", "ixy", "ixz", "iyy", "iyz", "izz")
ARM = Path(__file__).resolve().parents[1] / "examples" / "robots" / "kavrel_arm.urdf"
ROBOTS = ["ur3e", "gen3_6dof", "panda", "iiwa14", "go2", "anymal_c", "h1_2", "g1", "atlas", "icub", "pr2",
          "allegro", "cassie", "bench/iiwa", "bench/hyq", "bench/hyq_floating", "bench/atlas",
          "bench/atlas_floating"]


def link(name, inertial=None):
    return f'<link name="{name}"><inertial>{inertial}</inertial></link>' if inertial else f'<link name="{name}"/>'


def joint(name, parent, child, kind="revolute", extra=""):
    return (f'<joint name="{name}" type="{kind}"><parent link="{parent}"/>'
            f'<child link="{child}"/>{extra}</joint>')


def robot(*parts, name="r"):
    return f'<robot name="{name}">{"".join(parts)}</robot>'


def two_links(extra="", kind="revolute", inertial=None):
    return robot(link("a"), link("b", inertial), joint("j", "a", "b", kind, extra))


def refused(call, argument, message):
    with pytest.raises(RuntimeError) as raised:
        call(argument)
    assert str(raised.value) == message


ROOT = '<origin xyz="1 2 3"/><mass value="2"/><inertia ixx="1" iyy="2" izz="3"/>'


@pytest.mark.parametrize("parts,names,parents,nv,frames,masses", [
    ((link("base", ROOT),), ["universe"], [0], 0, "universe:FIXED_JOINT:0 base:BODY:0", [2]),
    # Depth-first pre-order, children in document order, wherever the elements stand.
    ((joint("ab", "a", "b"), link("a", '<mass value="3"/>'), joint("ra", "r", "a"), joint("rc", "r", "c", "fixed"),
      link("r", ROOT), joint("bd", "b", "d"), link("b"), link("c", '<mass value="5"/>'), joint("ae", "a", "é"),
      link("d"), link("é", '<mass value="7"/>')), ["universe", "ra", "ab", "bd", "ae", "rc"], [0, 0, 1, 2, 1, 0], 4,
     "universe:FIXED_JOINT:0 r:BODY:0 ra:JOINT:1 a:BODY:1 ab:JOINT:2 b:BODY:2 bd:JOINT:3 d:BODY:3 ae:JOINT:4 é:BODY:4 "
     "rc:JOINT:5 c:BODY:5", [2, 3, 0, 0, 7, 5]),
])
def test_tree_walk_frames_and_bodies(parts, names, parents, nv, frames, masses):
    model = parse_urdf_from_string(robot(*parts, name="solo"))
    assert (model.name, model.names, model.parents, model.nq, model.nv) == ("solo", names, parents, nv, nv)
    assert " ".join(map("{}:{}:{}".format, model.frame_names, model.frame_types, model.frame_parents)) == frames
    assert [model.get_body_inertia(i)[0] for i in range(model.njoints)] == masses
    _, lever, rotational = model.get_body_inertia(0)  # the root link's
    assert lever.tolist() == [1, 2, 3] and np.array_equal(rotational, np.diag([1, 2, 3]))
    assert all(axis.tolist() == [1, 0, 0] for axis in model.joint_axes[1:nv + 1])  # no <axis>: about x


Z3 = np.zeros((3, 3))


@pytest.mark.parametrize("inertial,mass,lever,rotational", [
    ('<origin xyz="1 2 3"/><mass value="0"/><inertia ixx="1" iyy="1" izz="1"/>', 0, [0, 0, 0], Z3),
    ('<origin xyz="1 2 3"/><inertia ixx="1" iyy="1" izz="1"/>', 0, [0, 0, 0], Z3),
    ('<origin xyz="1 2 3"/><mass value="2"/>', 2, [1, 2, 3], Z3),
    ('<mass value="-1"/><inertia ixx="1" ixy="0.5" iyy="2" izz="3"/>', -1, [0, 0, 0],
     [[1, 0.5, 0], [0.5, 2, 0], [0, 0, 3]]),
])
def test_inertia_conversion(inertial, mass, lever, rotational):
    got = parse_urdf_from_string(two_links(inertial=inertial)).get_body_inertia(1)
    assert got[0] == mass and got[1].tolist() == lever
    np.testing.assert_allclose(got[2], rotational, atol=1e-15)


@pytest.mark.parametrize("text,value", [
    ("+1.5", 1.5), (" 2.5\t", 2.5), ("1e-3", 1e-3), (".5", 0.5), ("5.", 5.0), ("1E2", 100.0), ("00012", 12.0),
    ("inf", math.inf), ("-INF", -math.inf), ("+inf", math.inf), ("+infinity", math.inf), ("infinity", math.inf),
    *((bad, None) for bad in ("1,5", "1.5x", "", " ", "abc", "+-1", "++1", "- 1", "0x10", "1e999", "1 2", "1_0",
                              "\u0661", "nan(", "nan", "NaN", "-NaN", "nan(12)")),
])
def test_numbers(text, value):
    # Limits may be infinite; masses and inertias may not.
    limit = two_links(f'<limit lower="-1" upper="{text}"/>')
    scalars = [two_links(inertial=f'<mass value="{text}"/>')] + [
        two_links(inertial=f'<mass value="1"/><inertia {key}="{text}"/>') for key in INERTIA]
    if value is None or math.isinf(value):
        for document in scalars + ([limit] if value is None else []):
            refused(parse_urdf_from_string, document, BAD_STRING)
    else:
        assert parse_urdf_from_string(scalars[0]).get_body_inertia(1)[0] == value
    if value is not None:
        assert parse_urdf_from_string(limit).upperPositionLimit[0] == value


@pytest.mark.parametrize("text,value", [
    ("1\t2\n3", [1, 2, 3]), ("  1   2 3  ", [1, 2, 3]), ("+1 -2 3e0", [1, -2, 3]),
    *((bad, None) for bad in ("1 2", "1 2 3 4", "1 2 x", "", "1,2,3", *(f"0 {text} 0" for text in (
        "nan", "NaN", "nan(12)", "inf", "+inf", "-INF", "infinity")))),
])
def test_triples(text, value):
    # Inertial origin, joint origin and axis read triples alike, all finite.
    documents = [two_links(inertial=f'<origin {key}="{text}"/><mass value="1"/>') for key in ("xyz", "rpy")]
    documents += [two_links(f'<origin {key}="{text}"/>') for key in ("xyz", "rpy")]
    documents.append(two_links(f'<axis xyz="{text}"/>'))
    for document in documents if value is None else ():
        refused(parse_urdf_from_string, document, BAD_STRING)
    if value is not None:
        models = [parse_urdf_from_string(document) for document in documents]
        assert models[0].get_body_inertia(1)[1].tolist() == value == models[4].joint_axes[1].tolist()


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


def named(name, prolog=""):
    """Two links and a fixed joint called `name`, after an optional prolog."""
    return prolog + robot(link("a"), link("b"), joint(name, "a", "b", "fixed"))


def doctype(declarations):
    return f"<!DOCTYPE robot [{declarations}]>"


LAUGHS = doctype('<!ENTITY a0 "lol">' + "".join(f'<!ENTITY a{i} "{f"&a{i - 1};" * 10}">' for i in range(1, 10)))
BIG = doctype(f'<!ENTITY big "{"x" * 100_000}">')
EXTERNAL = '<!DOCTYPE robot SYSTEM "robot.dtd">'
# Python's own expat refuses these too.
ILL_FORMED = [
    "not xml", "", "   ", "\x00\x01\x02\xff\xfe", robot(link("a"))[:-4], "<robot name='r'><link name='a'/>",
    robot(link("a")) + robot(link("b")), robot(link("a")) + "tail", robot(link("a")) + "\x00", robot(link("a\x01")),
    '<robot name="r" name="s"><link name="a"/></robot>',
    *(named(f"x&#{code};") for code in ("xD800", "x110000", "99999999999", "0", "1", "xFFFE")),
    named("a & b"), named("a < b"), named("&undeclared;"), robot(link("a"), "]]>"), robot("<!-- a -- b -->", link("a")),
    ' <?xml version="1.0"?>' + named("j"), named("j") + "<!DOCTYPE robot>", named("j", "<!DOCTYPE a><!DOCTYPE b>"),
    named("&e;", doctype('<!ENTITY e "&e;">')), named("&e;", doctype("<!ENTITY e '<'>")),
    named("&e;", doctype('<!ENTITY e SYSTEM "e.txt">')),
    pytest.param(named("&a9;", LAUGHS), id="laughs-in-name"), pytest.param(LAUGHS + robot(link("a"), "&a9;"),
                                                                          id="laughs-in-text"),
    pytest.param(BIG + robot(link("a"), "&big;" * 10_000), id="one-entity-many-times"),
]
# Python's own expat takes these: not a robot, or complete only with an external DTD or entity, which is never read.
WELL_FORMED = [
    '<model name="r"><link name="a"/></model>', '<robot><link name="a"/></robot>', robot("<link/>"),
    robot(link("a"), link("b"), '<joint type="fixed"><parent link="a"/><child link="b"/></joint>'),
    robot(link("a"), link("b"), '<joint name="j"><parent link="a"/><child link="b"/></joint>'),
    robot(link("a"), link("b"), '<joint name="j" type="fixed"><child link="b"/></joint>'),
    robot(link("a"), link("b"), '<joint name="j" type="fixed"><parent/><child link="b"/></joint>'),
    robot(link("a"), link("b"), '<joint name="j" type="fixed"><parent link="a"/></joint>'),
    two_links(kind="ball"), two_links(kind="Revolute"), two_links(inertial='<mass value="1kg"/>'),
    two_links(inertial='<inertia ixy="a"/>'), two_links(inertial='<origin rpy="0 0"/>'),
    two_links('<limit upper="high"/>'), named("j", EXTERNAL), named("a&e;b", EXTERNAL),
    named("j", '<!DOCTYPE robot PUBLIC "-//x" "robot.dtd">'), named("j", doctype('<!ENTITY % p SYSTEM "p.dtd"> %p;')),
    named("j", doctype("%undeclared;")), doctype('<!ENTITY e SYSTEM "e.xml">') + robot(link("a"), "&e;"),
]


@pytest.mark.parametrize("document", ILL_FORMED + WELL_FORMED)
def test_refused_documents(document, capfd):
    assert expat_accepts(document) == (document in WELL_FORMED)
    refused(parse_urdf_from_string, document, BAD_STRING)
    assert capfd.readouterr() == ("", "")


@pytest.mark.parametrize("document,name", [
    (named("x&#x1F600;&#65;&amp;&lt;&gt;&quot;&apos;"), "x\U0001F600A&<>\"'"),
    (named("&e;", doctype('<!ENTITY e "EXP">')), "EXP"),
    (named("&e;", doctype('<!ENTITY e "&f;&#x20;&f;"><!ENTITY f "F">')), "F F"),
    (named("&e;", doctype("<!ENTITY % p \"<!ENTITY e 'PE'>\"> %p;")), "PE"),
    (doctype('<!ATTLIST joint name CDATA "default">') + robot(
        link("a"), link("b"), '<joint type="fixed"><parent link="a"/><child link="b"/></joint>'), "default"),
    (named("j", '<?xml version="1.0" standalone="yes"?>' + EXTERNAL), "j"),
])
def test_entities_and_character_references(document, name):
    assert parse_urdf_from_string(document).names == ["universe", name]


@pytest.mark.parametrize("links,joints,outcome", [
    # Each joint is named by its parent and child link. Ignored: a second root candidate, a missing child link,
    # an unreachable parent, an unreachable cycle. An undeclared parent (a "world" never declared) is no root.
    ("boxy", "bx bm oy", ["universe", "bx"]), ("rab", "ab ba", ["universe"]),
    ("rab", "ra rb ba", "Link a is the child of more than one joint"),
    ("rab", "ra ab ba", "Link a is the child of more than one joint"),
    ("ab", "ab ba xb", "Link b is the child of more than one joint"),
    ("a", "aa", "No root link found in URDF"), ("", "", "No root link found in URDF"),
    ("ab", "wa ab", "No root link found in URDF"),
])
def test_tree_shapes(links, joints, outcome):
    document = robot(*map(link, links), *(joint(ends, *ends) for ends in joints.split()))
    if isinstance(outcome, str):
        refused(parse_urdf_from_string, document, PREFIX + outcome)
    else:
        assert parse_urdf_from_string(document).names == outcome


def test_file_failures(tmp_path, capfd):
    (tmp_path / "latin1.urdf").write_bytes(robot(link("caf\xe9")).encode("latin-1"))
    (tmp_path / "truncated.urdf").write_text(robot(link("a"))[:-3])
    (tmp_path / "empty.urdf").write_text("")
    # Everything after a NUL would be dropped by the C library: such a path names no file. /dev/zero never ends.
    for path in ["no/such.urdf", str(tmp_path), str(ARM) + "\x00x", "/dev/zero",
                 *(str(tmp_path / name) for name in ("latin1.urdf", "truncated.urdf", "empty.urdf"))]:
        refused(parse_urdf_file, path, BAD_FILE + path)
    assert capfd.readouterr() == ("", "")


@pytest.mark.parametrize("encoding", ["utf-8-sig", "utf-16"])
def test_file_with_byte_order_mark_and_crlf(tmp_path, encoding):
    (path := tmp_path / "bom.urdf").write_bytes(two_links().replace("><", ">\r\n<").encode(encoding))
    assert parse_urdf_file(str(path)).names == ["universe", "j"]


def test_file_size_limit(tmp_path):
    # Exactly 256 MiB imports, one byte more does not.
    path = tmp_path / "padded.urdf"
    try:
        with open(path, "wb") as f:
            f.write(two_links().encode())
            f.writelines(b" " * (1 << 20) for _ in range(256))
            f.truncate(256 << 20)
        assert path.stat().st_size == 256 << 20 and parse_urdf_file(str(path)).names == ["universe", "j"]
        with open(path, "ab") as f:
            f.write(b" ")
        refused(parse_urdf_file, str(path), BAD_FILE + str(path))
    finally:
        path.unlink(missing_ok=True)  # pytest keeps recent temporary folders


def test_fifo_is_read_without_holding_the_interpreter(tmp_path):
    # The writer is another process, so that a held lock shows as a main thread that stood still, not as a hang.
    (source := tmp_path / "robot.urdf").write_text(two_links())
    os.mkfifo(fifo := tmp_path / "robot.fifo")
    writer = subprocess.Popen([sys.executable, "-c", "import sys, time; time.sleep(0.5); "
                               "open(sys.argv[2], 'wb').write(open(sys.argv[1], 'rb').read())", source, fifo])
    names, ticks = [], 0
    (reader := threading.Thread(target=lambda: names.append(parse_urdf_file(str(fifo)).names))).start()
    while reader.is_alive():
        time.sleep(0.001)
        ticks += 1
    writer.wait()
    assert names == [["universe", "j"]] and ticks > 20


def test_deep_chain_imports_without_recursion():
    n = 100_000
    model = parse_urdf_from_string(robot(*(link(f"l{i}") for i in range(n + 1)),
                                         *(joint(f"j{i}", f"l{i}", f"l{i + 1}") for i in range(n))))
    assert (model.njoints, model.nv, model.parents[-1], model.names[-1]) == (n + 1, n, n - 1, "j99999")


def attribute(parent, tag, key, default="0"):
    element = None if parent is None else parent.find(tag)
    return default if element is None else element.get(key, default)


def expected_inertia(link_element):
    """Mass and rotational inertia of a link, recomputed from the XML."""
    inertial = link_element.find("inertial")
    if (mass := float(attribute(inertial, "mass", "value"))) == 0.0:
        return 0.0, Z3
    xx, xy, xz, yy, yz, zz = (float(attribute(inertial, "inertia", key)) for key in INERTIA)
    r = rpy_matrix(*map(float, attribute(inertial, "origin", "rpy", "0 0 0").split()))
    return mass, r @ np.array([[xx, xy, xz], [xy, yy, yz], [xz, yz, zz]]) @ r.T


@pytest.mark.parametrize("name", ROBOTS + ["kavrel_arm"])
def test_real_robots(name, request):
    """The import recomputed from the XML: root choice, depth-first order, limits, inertias."""
    path = ARM if name == "kavrel_arm" else request.getfixturevalue("robots_dir") / f"{name}.urdf"
    root, links = ET.parse(path).getroot(), {}
    for element in root.findall("link"):
        links.setdefault(element.get("name"), element)
    joints, order = root.findall("joint"), []

    def visit(parent):  # depth-first pre-order, children in document order
        for j in joints:
            if j.find("parent").get("link") == parent:
                order.append(j)
                visit(j.find("child").get("link"))

    children = {j.find("child").get("link") for j in joints}
    visit(base := next(n for n in links if n not in children))
    model, sizes = parse_urdf_file(str(path)), np.array([SIZES[j.get("type")] for j in order])
    assert model.names == ["universe"] + [j.get("name") for j in order]
    assert (model.njoints, model.nq, model.nv, model.nframes) == (len(order) + 1, *sizes.sum(0), 2 * len(order) + 2)
    for bound in ("lower", "upper"):
        assert getattr(model, f"{bound}PositionLimit").tolist() == [
            float(attribute(j, "limit", bound)) for j, nv in zip(order, sizes[:, 1]) for _ in range(nv)]
    for i, element in enumerate([links[base]] + [links[j.find("child").get("link")] for j in order]):
        (mass, rotational), got = expected_inertia(element), model.get_body_inertia(i)
        assert got[0] == mass, f"body {i}"
        np.testing.assert_allclose(got[2], rotational, rtol=1e-12, atol=1e-15)


PIECES = st.one_of(
    st.text(st.sampled_from([*"<>/=\"' \t\nabjxyz01.-+eE&#;!?[]", "\x00", "\xe9", "\uffff", "\U0001d11e"]), max_size=12),
    st.sampled_from(["&#0;", "&#xD800;", "&#65;", "&amp;", "&e;", "]]>", "--", "<?xml version='1.0'?>", "nan",
                     '<!DOCTYPE robot [<!ENTITY e "x">]>', '<!DOCTYPE robot SYSTEM "r.dtd">']))
MUTATION = st.tuples(st.sampled_from(["delete", "insert", "replace", "duplicate", "truncate"]),
                     st.floats(0, 1), st.integers(0, 40), PIECES)
# Byte sequences that are never UTF-8, wherever they land.
BAD_BYTES = st.one_of(st.none(), st.tuples(st.floats(0, 1), st.sampled_from(
    [b"\xff", b"\xc3", b"\xed\xa0\x80", b"\xc0\xaf", b"\xf4\x90\x80\x80"])))


def mutate(text, mutations):
    for kind, where, length, piece in mutations:
        i = int(where * len(text))
        text = {"delete": text[:i] + text[i + length:], "insert": text[:i] + piece + text[i:],
                "replace": text[:i] + piece + text[i + len(piece):], "truncate": text[:i],
                "duplicate": text[:i + length] + text[i:]}[kind]
    return text


def names_or_none(call, argument):
    try:
        return call(argument).names
    except RuntimeError as error:
        assert str(error).startswith(PREFIX)


@settings(max_examples=150, deadline=2000)
@given(name=st.sampled_from(ROBOTS), mutations=st.lists(MUTATION, min_size=1, max_size=4), bad_bytes=BAD_BYTES)
def test_mutated_robots_fail_cleanly(robots_dir, tmp_path_factory, name, mutations, bad_bytes):
    # File and string agree on every mutant, fail only with RuntimeError, and
    # import nothing that Python's own XML reader refuses.
    text = mutate((robots_dir / f"{name}.urdf").read_text(), mutations)
    data, path = text.encode(), tmp_path_factory.getbasetemp() / "mutant.urdf"
    if bad_bytes:
        i = int(bad_bytes[0] * len(data))
        data = data[:i] + bad_bytes[1] + data[i:]
    path.write_bytes(data)
    from_string, from_file = names_or_none(parse_urdf_from_string, text), names_or_none(parse_urdf_file, str(path))
    assert (from_file is None) if bad_bytes else (from_string == from_file)
    assert from_string is None or expat_accepts(text)
    assert from_file is None or expat_accepts(data)
