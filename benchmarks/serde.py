"""pydantic, msgspec and JSON with merandol's values against the same with
the standard datetime, which those libraries read and write natively: a
record of five RFC 3339 date-time fields, read from JSON and written to it.

The figures are best-of-runs microseconds per record; the ratio is
merandol's time over datetime's, and the bound is the one the README gives
(pydantic's reading and writing at most 1.2 times its own datetime's)."""

import datetime
import json
import timeit
from typing import Annotated

FIELDS = ("created", "updated", "starts", "ends", "seen")
TEXTS = [
    "2024-03-10T12:00:00+05:30",
    "2024-03-10T06:30:00.123456Z",
    "1999-12-31T23:59:59-08:00",
    "2038-01-19T03:14:07.5+01:00",
    "1969-07-20T20:17:40Z",
]
DOCUMENT = json.dumps(dict(zip(FIELDS, TEXTS, strict=True))).encode()
BOUND = 1.2


def subjects():
    """(library, operation) -> (merandol's statement, datetime's), each a
    callable of no arguments; a library that cannot be imported gives none.
    merandol is imported here, so that readme.py can read the table's lines
    without it."""
    import merandol_interop
    from merandol import OffsetDateTime

    found = {}
    try:
        import pydantic
    except ImportError:
        pydantic = None
    if pydantic:
        fields = {name: (Annotated[OffsetDateTime, merandol_interop.Pydantic], ...) for name in FIELDS}
        ours = pydantic.create_model("Ours", **fields)
        theirs = pydantic.create_model("Theirs", **{name: (datetime.datetime, ...) for name in FIELDS})
        a, b = ours.model_validate_json(DOCUMENT), theirs.model_validate_json(DOCUMENT)
        found["pydantic", "model_validate_json"] = (
            lambda: ours.model_validate_json(DOCUMENT),
            lambda: theirs.model_validate_json(DOCUMENT),
        )
        found["pydantic", "model_dump_json"] = (a.model_dump_json, b.model_dump_json)
    try:
        import msgspec
    except ImportError:
        msgspec = None
    if msgspec:
        ours_struct = msgspec.defstruct("Ours", [(name, OffsetDateTime) for name in FIELDS])
        theirs_struct = msgspec.defstruct("Theirs", [(name, datetime.datetime) for name in FIELDS])
        decode_ours = msgspec.json.Decoder(ours_struct, dec_hook=merandol_interop.msgspec_dec_hook).decode
        decode_theirs = msgspec.json.Decoder(theirs_struct).decode
        encode_ours = msgspec.json.Encoder(enc_hook=merandol_interop.msgspec_enc_hook).encode
        encode_theirs = msgspec.json.Encoder().encode
        c, d = decode_ours(DOCUMENT), decode_theirs(DOCUMENT)
        found["msgspec", "decode"] = (lambda: decode_ours(DOCUMENT), lambda: decode_theirs(DOCUMENT))
        found["msgspec", "encode"] = (lambda: encode_ours(c), lambda: encode_theirs(d))
    values = {name: OffsetDateTime.parse(text) for name, text in zip(FIELDS, TEXTS, strict=True)}
    stdlib = {name: datetime.datetime.fromisoformat(text) for name, text in zip(FIELDS, TEXTS, strict=True)}
    default = merandol_interop.json_default
    found["json", "dumps"] = (
        lambda: json.dumps(values, default=default),
        lambda: json.dumps(stdlib, default=datetime.datetime.isoformat),
    )
    try:
        import orjson
    except ImportError:
        orjson = None
    if orjson:
        found["orjson", "dumps"] = (lambda: orjson.dumps(values, default=default), lambda: orjson.dumps(stdlib))
    return found


def best_us(function, quick):
    timer = timeit.Timer(function)
    number, _ = timer.autorange()
    return min(timer.repeat(3 if quick else 7, number)) / number * 1e6


def run(quick=False):
    rows = []
    for (library, operation), (ours, theirs) in subjects().items():
        mine, stdlib = best_us(ours, quick), best_us(theirs, quick)
        rows.append({"library": library, "operation": operation, "merandol_us": mine, "datetime_us": stdlib})
    return rows


def table_lines(rows):
    lines = ["a record of five date-time fields        merandol us  datetime us  ratio"]
    for row in rows:
        ratio = row["merandol_us"] / row["datetime_us"]
        bound = f"  (bound {BOUND}x)" if row["library"] == "pydantic" else ""
        name = f"{row['library']}: {row['operation']}"
        lines.append(f"{name:<40}{row['merandol_us']:>12.2f}{row['datetime_us']:>13.2f}{ratio:>6.2f}x{bound}")
    return lines


def print_summary(rows):
    print("\n" + "\n".join(table_lines(rows)))


if __name__ == "__main__":
    print_summary(run())
