"""merandol's values through pydantic, msgspec, json and orjson as their text
forms: every class and Zone in one model, structure and document, read from
text and from instances, written back, and refused with the field named.
Under `make test` the libraries are required: nothing here skips there."""

import importlib
import json
import os
import re
from typing import Annotated

import merandol_interop
import pytest
from merandol import Date, DateTime, Duration, OffsetDateTime, Time, UtcOffset, Weekday
from merandol_interop import Pydantic, Zone, json_default, msgspec_dec_hook, msgspec_enc_hook


def need(name):
    return importlib.import_module(name) if os.environ.get("MERANDOL_SERDE_REQUIRED") else pytest.importorskip(name)


# field: (class, a value, its text, the JSON Schema's format or None)
FIELDS = {
    "date": (Date, Date(-44, 3, 15), "-044-03-15", "date"),
    "time": (Time, Time(9, 5, 0, 1), "09:05:00.000000001", "time"),
    "date_time": (
        DateTime,
        DateTime.parse("2147483647-12-31T23:59:59.5Z"),
        "2147483647-12-31T23:59:59.5Z",
        "date-time",
    ),
    "offset_date_time": (OffsetDateTime, OffsetDateTime.parse("2024-03-10T12:00:00+05:30"), None, "date-time"),
    "duration": (Duration, Duration.nanoseconds(-(2**127)), "-PT170141183460469231731687303715.884105728S", None),
    "offset": (UtcOffset, UtcOffset.from_seconds(-19815), "-05:30:15", None),
    "weekday": (Weekday, Weekday.SUNDAY, "Sunday", None),
    "zone": (Zone, Zone("America/Port-au-Prince"), "America/Port-au-Prince", None),
}
TEXTS = {field: text or str(value) for field, (_, value, text, _) in FIELDS.items()}
VALUES = {field: value for field, (_, value, _, _) in FIELDS.items()}
# Texts each reader refuses, grouped by field; 5 is no text at all.
REFUSED = [
    ("date", "2023-02-29"),
    ("time", "24:00:00"),
    ("date_time", "2024-01-01T00:00:00+01:00"),
    ("offset_date_time", "2024-01-01"),
    ("duration", "PT1.0000000001S"),
    ("duration", "P1D"),
    ("duration", f"PT{2**127 // 10**9 + 1}S"),
    ("offset", "+24:01"),
    ("offset", "+05:60"),
    ("weekday", "monday"),
    ("zone", "Mars/Olympus_Mons"),
    ("zone", "../zoneinfo"),
    *[(field, 5) for field in FIELDS],
]
# Values of the classes whose text form is merandol_interop's own, at their ends.
EXTREMES = [Duration.nanoseconds(2**127 - 1), Duration.nanoseconds(0), Duration.nanoseconds(10**9)]
EXTREMES += [UtcOffset.from_seconds(s) for s in (-86400, 0, 1, 86399)]


@pytest.fixture(scope="module")
def model():
    pydantic = need("pydantic")
    return pydantic.create_model(
        "Record", **{field: (Annotated[cls, Pydantic], ...) for field, (cls, *_) in FIELDS.items()}
    )


def test_pydantic_reads_text_and_instances_and_writes_text(model):
    from_text, from_values = model(**TEXTS), model.model_validate(VALUES)
    assert dict(from_text) == dict(from_values) == VALUES
    assert all(v is VALUES[k] for k, v in from_values.model_dump().items())
    assert json.loads(from_text.model_dump_json()) == TEXTS
    assert model.model_validate_json(from_text.model_dump_json()) == from_text


@pytest.mark.parametrize(("field", "bad"), REFUSED)
def test_pydantic_refuses_naming_the_field(model, field, bad):
    pydantic = need("pydantic")
    for validate in (model.model_validate, lambda data: model.model_validate_json(json.dumps(data))):
        with pytest.raises(pydantic.ValidationError) as caught:
            validate(TEXTS | {field: bad})
        assert [error["loc"] for error in caught.value.errors()] == [(field,)]
    with pytest.raises(pydantic.ValidationError):  # another class's value
        model.model_validate(VALUES | {field: Date(2024, 1, 1) if field != "date" else Time(0, 0, 0)})


@pytest.mark.parametrize("mode", ["validation", "serialization"])
def test_pydantic_json_schema(model, mode):
    """The standard's format where it has one, else a pattern or the names,
    that the written text matches and the refused texts do not."""
    properties = model.model_json_schema(mode=mode)["properties"]
    for field, (*_, form) in FIELDS.items():
        assert properties[field].get("format") == form
        if "pattern" in properties[field]:
            assert re.search(properties[field]["pattern"], TEXTS[field])
        assert TEXTS[field] in properties[field].get("enum", [TEXTS[field]])
    unlike = [("duration", "PT1.0000000001S"), ("duration", "P1D"), ("offset", "+05:60"), ("zone", "../zoneinfo")]
    assert not [bad for field, bad in unlike if re.search(properties[field]["pattern"], bad)]


def test_msgspec_round_trip_and_refusal():
    msgspec = need("msgspec")
    record = msgspec.defstruct("Record", [(field, cls) for field, (cls, *_) in FIELDS.items()])
    decoder = msgspec.json.Decoder(record, dec_hook=msgspec_dec_hook)
    encoded = msgspec.json.encode(record(**VALUES), enc_hook=msgspec_enc_hook)
    assert json.loads(encoded) == TEXTS and decoder.decode(encoded) == record(**VALUES)
    for field, bad in REFUSED:
        with pytest.raises(msgspec.ValidationError, match=rf"at `\$\.{field}`$"):
            decoder.decode(json.dumps(TEXTS | {field: bad}))


@pytest.mark.parametrize("dumps", ["json", "orjson"])
def test_json_default_writes_each_text(dumps):
    dumps = json.dumps if dumps == "json" else need("orjson").dumps
    assert json.loads(dumps(VALUES, default=json_default)) == TEXTS
    for value in EXTREMES:
        assert msgspec_dec_hook(type(value), json.loads(dumps(value, default=json_default))) == value
    with pytest.raises(TypeError, match="object"):
        dumps(object(), default=json_default)


def test_the_hooks_refuse_what_is_not_theirs():
    with pytest.raises(NotImplementedError):
        msgspec_enc_hook(object())
    with pytest.raises(NotImplementedError):
        msgspec_dec_hook(object, "x")
    with pytest.raises(ValueError, match="has no key"):
        json_default(Zone.from_tzif(open("/usr/share/zoneinfo/UTC", "rb").read()))
    with pytest.raises(TypeError, match="annotates merandol's classes"):
        need("pydantic").create_model("Bad", at=(Annotated[int, Pydantic], ...))
    assert repr(merandol_interop.Pydantic) == "merandol_interop.Pydantic"
