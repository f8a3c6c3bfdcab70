"""Python's own expat as the judge of well-formed documents, shared by the URDF tests and the fuzzer."""
from xml.parsers import expat


def expat_accepts(document):
    """Python's own expat, without namespaces: URDF files often use prefixes they never declare."""
    try:
        expat.ParserCreate("UTF-8").Parse(document, True)
    except expat.ExpatError:
        return False
    return True
