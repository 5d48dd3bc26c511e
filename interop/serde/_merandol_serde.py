"""merandol's values in pydantic, msgspec and JSON, through their text forms.

merandol_interop re-exports the public names; this module lives beside the
extensions because it only wraps pure-Python libraries' APIs, and it imports
pydantic (pydantic_core) only when a model first asks for a schema.
"""

import re

from merandol import Date, DateTime, Duration, OffsetDateTime, Time, UtcOffset, Weekday

NANOS_PER_SECOND = 10**9


def write_duration(value):
    """`[-]PT<seconds>[.<fraction>]S`: the ISO 8601 form in seconds alone,
    as a day or an hour is no unit of a nanosecond count."""
    nanos = value.total_nanos()
    seconds, fraction = divmod(abs(nanos), NANOS_PER_SECOND)
    digits = f".{fraction:09}".rstrip("0") if fraction else ""
    return f"{'-' if nanos < 0 else ''}PT{seconds}{digits}S"


DURATION_PATTERN = r"^-?PT[0-9]+(\.[0-9]{1,9})?S$"
DURATION_TEXT = re.compile(DURATION_PATTERN.replace("$", r"\Z"), re.ASCII)


def read_duration(text):
    if not (match := DURATION_TEXT.match(text)):
        raise ValueError(f"Invalid duration string {text!r}. Expected format: [-]PT<seconds>[.fffffffff]S")
    seconds, fraction = match[0].lstrip("-PT").rstrip("S").partition(".")[::2]
    nanos = int(seconds) * NANOS_PER_SECOND + int(fraction.ljust(9, "0") or 0)
    try:
        return Duration.nanoseconds(-nanos if text[0] == "-" else nanos)
    except OverflowError as error:
        raise ValueError(f"Invalid duration string {text!r}: {error}") from None


def write_offset(value):
    """`[+-]HH:MM`, and `:SS` where the offset has leftover seconds, which the
    RFC 3339 form drops."""
    seconds = value.as_seconds()
    hours, rest = divmod(abs(seconds), 3600)
    minutes, leftover = divmod(rest, 60)
    return f"{'-' if seconds < 0 else '+'}{hours:02}:{minutes:02}" + (f":{leftover:02}" if leftover else "")


OFFSET_PATTERN = r"^(Z|[+-][0-9]{2}:[0-5][0-9](:[0-5][0-9])?)$"
OFFSET_TEXT = re.compile(r"([+-])([0-9]{2}):([0-5][0-9])(?::([0-5][0-9]))?\Z|Z\Z", re.ASCII)


def read_offset(text):
    if not (match := OFFSET_TEXT.match(text)):
        raise ValueError(f"Invalid offset string {text!r}. Expected format: Z or [+-]HH:MM[:SS]")
    sign, hours, minutes, seconds = match.groups(default="0")
    magnitude = int(hours) * 3600 + int(minutes) * 60 + int(seconds)
    return UtcOffset.from_seconds(-magnitude if sign == "-" else magnitude)


WEEKDAYS = {str(day): day for day in vars(Weekday).values() if type(day) is Weekday}


def read_weekday(text):
    try:
        return WEEKDAYS[text]
    except KeyError:
        raise ValueError(f"Invalid weekday {text!r}. Expected one of {', '.join(WEEKDAYS)}") from None


def zone_class():
    import merandol_interop

    return merandol_interop.Zone


def read_zone(text):
    try:
        return zone_class()(text)
    except (KeyError, ValueError) as error:  # ZoneNotFoundError is a KeyError
        raise ValueError(str(error).strip('"')) from None


def write_zone(zone):
    if zone.key is None:
        raise ValueError(f"{zone!r} has no key to write")
    return zone.key


def text_forms():
    """Each class's reader and writer of its text, and its JSON Schema."""
    date_time = {"type": "string", "format": "date-time"}
    return {
        Date: (Date.parse, str, {"type": "string", "format": "date"}),
        Time: (Time.parse, str, {"type": "string", "format": "time"}),
        DateTime: (DateTime.parse, str, date_time | {"pattern": "[Zz]$"}),
        OffsetDateTime: (OffsetDateTime.parse, str, date_time),
        Duration: (read_duration, write_duration, {"type": "string", "pattern": DURATION_PATTERN}),
        UtcOffset: (read_offset, write_offset, {"type": "string", "pattern": OFFSET_PATTERN}),
        Weekday: (read_weekday, str, {"type": "string", "enum": list(WEEKDAYS)}),
        zone_class(): (read_zone, write_zone, {"type": "string", "pattern": r"^[A-Za-z0-9_+-]+(/[A-Za-z0-9_+-]+)*$"}),
    }


FORMS = None


def forms():
    global FORMS
    if FORMS is None:
        FORMS = text_forms()
    return FORMS


def json_default(value):
    """The text form of a merandol value, for json.dumps(default=...) and
    orjson.dumps(default=...); TypeError for anything else."""
    form = forms().get(type(value))
    if form is None:
        raise TypeError(f"Object of type {type(value).__name__} is not JSON serializable")
    return form[1](value)


def msgspec_enc_hook(value):
    """msgspec's enc_hook: the text form of a merandol value."""
    form = forms().get(type(value))
    if form is None:
        raise NotImplementedError(f"Objects of type {type(value).__name__} are not supported")
    return form[1](value)


def msgspec_dec_hook(cls, value):
    """msgspec's dec_hook: a merandol value of class `cls` from its text form."""
    form = forms().get(cls)
    if form is None:
        raise NotImplementedError(f"Objects of type {cls!r} are not supported")
    if type(value) is not str:
        raise ValueError(f"Expected `str` for {cls.__name__}, got `{type(value).__name__}`")
    return form[0](value)


class PydanticMarker:
    """Makes a merandol class (or Zone) a pydantic field type:
    `Annotated[OffsetDateTime, merandol_interop.Pydantic]`.

    A field validates from the class's text form and from an instance, and
    serialises to the text form in JSON mode and to the instance in Python
    mode; its JSON Schema gives the standard format (date, time, date-time)
    or a pattern where the standard has none.
    """

    def __repr__(self):
        return "merandol_interop.Pydantic"

    def __get_pydantic_core_schema__(self, source, handler):
        from pydantic_core import core_schema

        if (form := forms().get(source)) is None:
            raise TypeError(f"merandol_interop.Pydantic annotates merandol's classes and Zone, not {source!r}")
        read, write, _ = form

        def from_python(value):
            if type(value) is source:
                return value
            if type(value) is str:
                return read(value)
            raise ValueError(f"Expected {source.__name__} or its text, got {type(value).__name__}")

        return core_schema.json_or_python_schema(
            json_schema=core_schema.chain_schema(
                [core_schema.str_schema(), core_schema.no_info_plain_validator_function(read)]
            ),
            python_schema=core_schema.no_info_plain_validator_function(from_python),
            serialization=core_schema.plain_serializer_function_ser_schema(
                write, when_used="json", return_schema=core_schema.str_schema()
            ),
        )

    def __get_pydantic_json_schema__(self, schema, handler):
        # The reader, the last step of the JSON validator that the schema
        # above made, tells the class.
        read = schema["json_schema"]["steps"][-1]["function"]["function"]
        return next(dict(json_schema) for reader, _, json_schema in forms().values() if reader == read)


Pydantic = PydanticMarker()
