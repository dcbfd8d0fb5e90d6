"""The checks that both cluster tests run against their cluster: the
distributed scan of the corpus and of a large file cut into about 40
chunks equals quarn.scan and quarn-scan --json, field for field."""

from __future__ import annotations

import quarn
import quarn.distributed
from conftest import CHUNK_BYTES, quarn_scan_json


def check_equal_to_one_machine(client, corpus_dir, large_file, quarn_scan_program, options: dict) -> dict:
    """Scans the corpus (recursively) with the large file in it; returns the stats."""
    stats: dict = {}
    expected = quarn.scan([corpus_dir], recursive=True, streams=True, **options)
    got = quarn.distributed.scan(
        client, [corpus_dir], chunk_bytes=CHUNK_BYTES, recursive=True, streams=True, stats=stats, **options
    )
    assert got == expected
    assert got.report_lines() == expected.report_lines()
    assert got.as_json() == quarn_scan_json(quarn_scan_program, [corpus_dir], {"recursive": True, **options})
    # The large file was cut; the small ones were batched.
    assert stats["large_files"] == 1 and stats["chunks"] >= 40
    assert stats["batches"] >= 1 and stats["files"] == expected.files_scanned

    plain = quarn.distributed.scan(client, [large_file], chunk_bytes=CHUNK_BYTES, **options)
    assert plain == quarn.scan([large_file], **options)
    return stats
