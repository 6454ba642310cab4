#!/usr/bin/env python3
"""Checks on the host's reports, for the end-to-end tests.

  report_check.py strict FILE          FILE is strict RFC 8259 JSON (no NaN,
                                       no duplicate names, one document)
  report_check.py same-problems RAW JSON
                                       the --json rendering lists the same
                                       problems as the raw report
  report_check.py none-again FIX SCAN  no problem fixed in FIX (a --json fix
                                       report) comes back in SCAN (--json)
  report_check.py same-registry A B    two machine.reg files hold the same
                                       keys in the same order and the same
                                       values in each key (order of values
                                       inside a key aside; see below)
"""
import json
import sys


def fail(message):
    print("report_check: " + message, file=sys.stderr)
    sys.exit(1)


def no_duplicates(pairs):
    names = [name for name, _ in pairs]
    if len(names) != len(set(names)):
        raise ValueError("duplicate member names: %r" % names)
    return dict(pairs)


def reject_constant(name):
    raise ValueError("not JSON: " + name)


def load_strict(path):
    with open(path, "rb") as f:
        data = f.read()
    try:
        text = data.decode("utf-8", errors="strict")
        return json.loads(text, object_pairs_hook=no_duplicates, parse_constant=reject_constant)
    except (UnicodeDecodeError, ValueError) as error:
        fail("%s is not strict JSON: %s" % (path, error))


def problems(document, array):
    if not isinstance(document, dict) or not isinstance(document.get(array), list):
        fail('the report has no "%s" array: %r' % (array, document))
    return document[array]


def identity(entry):
    return (entry.get("section"), entry.get("key path"), entry.get("value name", ""))


def check_same_problems(raw_path, json_path):
    document = load_strict(json_path)
    listed = problems(document, "problems")
    with open(raw_path, "rb") as f:
        raw = f.read().decode("utf-8")
    for index, entry in enumerate(listed):
        if entry.get("id") != str(index):
            fail("problem %d has id %r" % (index, entry.get("id")))
        for name, value in entry.items():
            # The raw report escapes quotes only; everything else is verbatim.
            needle = '"%s": "%s"' % (name, value.replace('"', '\\"'))
            if needle not in raw:
                fail("the raw report lacks %s (problem %d)" % (needle, index))
    if raw.count('"id": ') != len(listed):
        fail("the raw report has %d ids, the JSON %d problems" % (raw.count('"id": '), len(listed)))


def check_none_again(fix_path, scan_path):
    fixed = [e for e in problems(load_strict(fix_path), "fixes") if e.get("fixed") == "true"]
    again = {identity(e) for e in problems(load_strict(scan_path), "problems")}
    back = [identity(e) for e in fixed if identity(e) in again]
    if back:
        fail("fixed problems reported again: %r" % back)
    print("%d fixed problems, none reported again" % len(fixed))


def registry_keys(path):
    """[(key, sorted value lines)] of an 8-bit .reg file, hex continuations joined."""
    with open(path, "rb") as f:
        lines = f.read().decode("cp1252").split("\r\n")
    keys, joined = [], ""
    for line in lines[1:]:
        joined += line
        if joined.endswith("\\") and not joined.startswith("["):
            joined = joined[:-1]
            continue
        line, joined = joined.strip(), ""
        if not line or line.startswith(";"):
            continue
        if line.startswith("["):
            keys.append((line, []))
        else:
            keys[-1][1].append(line)
    return [(key, sorted(values)) for key, values in keys]


def check_same_registry(before_path, after_path):
    before, after = registry_keys(before_path), registry_keys(after_path)
    before_keys = [k for k, _ in before]
    after_keys = [k for k, _ in after]
    if before_keys != after_keys:
        missing = [k for k in before_keys if k not in after_keys]
        extra = [k for k in after_keys if k not in before_keys]
        fail("keys differ: missing %r, extra %r" % (missing[:10], extra[:10]))
    for (key, values_before), (_, values_after) in zip(before, after):
        if values_before != values_after:
            fail("values of %s differ:\n  before %r\n  after  %r" % (key, values_before, values_after))
    print("%d keys, same values" % len(before))


def main(argv):
    if len(argv) == 3 and argv[1] == "strict":
        load_strict(argv[2])
    elif len(argv) == 4 and argv[1] == "same-problems":
        check_same_problems(argv[2], argv[3])
    elif len(argv) == 4 and argv[1] == "none-again":
        check_none_again(argv[2], argv[3])
    elif len(argv) == 4 and argv[1] == "same-registry":
        check_same_registry(argv[2], argv[3])
    else:
        fail("usage: see the top of this file")


if __name__ == "__main__":
    main(sys.argv)
