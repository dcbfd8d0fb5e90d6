"""quarn-scan --yara: rules matched against every stream's inflated bytes.
The payload holds the rule's string only once inflated; the hits, their
tags and the strings' offsets must be what the yara program itself says of
the inflated bytes. --yara-only lists the streams with hits alone; a rule
that does not compile is bad usage (exit 2) naming its file and line.

Run by CTest with QUARN_SCAN naming the program."""

import json
import os
import random
import re
import subprocess
import zlib

import pytest

SCAN = os.environ.get("QUARN_SCAN", "quarn-scan")
MARKER = b"SECRET-PAYLOAD-42"
RULES = """rule secret : hidden demo {
  strings:
    $a = "SECRET-PAYLOAD-42"
  condition:
    $a
}
rule long_stream {
  condition:
    filesize > 100000
}
"""


def text(rng, lines, marker_every=0):
    out = []
    for k in range(lines):
        words = " ".join(rng.choice(["alpha", "beta", "gamma", "delta"]) for _ in range(10))
        out.append(words + (" " + MARKER.decode() if marker_every and k % marker_every == 3 else ""))
    return ("\n".join(out) + "\n").encode()


@pytest.fixture(scope="module")
def sample(tmp_path_factory):
    rng = random.Random(11)
    work = tmp_path_factory.mktemp("yara")
    payloads = [text(rng, 400, 97), text(rng, 300), text(rng, 4000, 1500)]
    noise = lambda: bytes(rng.randrange(256) for _ in range(300))
    data = noise()
    for payload in payloads:
        stream = zlib.compress(payload, 9)
        assert MARKER not in stream
        data += stream + noise()
    (work / "sample.bin").write_bytes(data)
    (work / "rules.yar").write_text(RULES)
    for k, payload in enumerate(payloads):
        (work / f"payload{k}").write_bytes(payload)
    return work, payloads


def run(*args, check=True):
    return subprocess.run([SCAN, "-q", *map(str, args)], capture_output=True, check=check, text=True)


def yara_says(rules, path):
    """{rule: [(string id, offset)]} from the yara program."""
    out = subprocess.run(["yara", "-s", str(rules), str(path)], capture_output=True, check=True, text=True).stdout
    hits = {}
    for line in out.splitlines():
        if m := re.match(r"0x([0-9a-f]+):(\$\w+): ", line):
            hits[rule].append((m.group(2), int(m.group(1), 16)))
        else:
            rule = line.split()[0]
            hits[rule] = []
    return hits


def test_hits_are_what_yara_says_of_the_inflated_bytes(sample):
    work, payloads = sample
    streams = json.loads(run("--json", "--list", "--yara", work / "rules.yar", work / "sample.bin").stdout)["streams_found"]
    assert [s["inflated_bytes"] for s in streams] == [len(p) for p in payloads]
    for k, stream in enumerate(streams):
        got = {h["rule"]: [(s["id"], s["offset"]) for s in h["strings"]] for h in stream["yara"]}
        assert got == yara_says(work / "rules.yar", work / f"payload{k}"), k
    assert [h["tags"] for h in streams[0]["yara"]] == [["hidden", "demo"]]
    assert streams[1]["yara"] == []
    assert {h["rule"] for h in streams[2]["yara"]} == {"secret", "long_stream"}


def test_rows_yara_only_and_a_folder_of_rules(sample):
    work, payloads = sample
    rows = run("--list", "--types", "--yara", work / "rules.yar", work / "sample.bin").stdout.splitlines()
    assert rows[0].split("\t")[-2:] == ["content", "rules"]
    assert [r.split("\t")[-1] for r in rows[1:4]] == ["secret[hidden,demo]", "-", "secret[hidden,demo] long_stream"]
    assert all(r.split("\t")[-2] == "ASCII text" for r in rows[1:4])

    folder = work / "rules"
    folder.mkdir()
    (folder / "a.yar").write_text(RULES.split("rule long_stream")[0])
    (folder / "b.yara").write_text("rule long_stream" + RULES.split("rule long_stream")[1])
    (folder / "notes.txt").write_text("not a rule")
    only = run("--yara-only", "--yara", folder, work / "sample.bin").stdout.splitlines()
    assert [r.split("\t")[1] for r in only[1:3]] == [rows[1].split("\t")[1], rows[3].split("\t")[1]]
    assert only[3:] == rows[4:], "the report lines are the whole scan's"
    plain = run(work / "sample.bin").stdout
    assert plain.splitlines() == rows[4:]


@pytest.mark.parametrize("rules,where", [
    ("rule a {\n  condition:\n    true\n}\nrule b {\n  condition: true true\n}\n", "line 6: syntax error"),
    ("rule a { condition: nothere }\n", "line 1: undefined identifier"),
])
def test_a_rule_that_does_not_compile_is_bad_usage(sample, tmp_path, rules, where):
    work, _ = sample
    (tmp_path / "bad.yar").write_text(rules)
    done = run("--yara", tmp_path / "bad.yar", work / "sample.bin", check=False)
    assert done.returncode == 2
    assert done.stdout == ""
    assert f'bad.yar", {where}' in done.stderr
