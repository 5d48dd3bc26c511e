import datetime
import zoneinfo
from collections.abc import Iterable
from typing import Any, ClassVar, Final, Literal, Protocol, final, overload, type_check_only

import numpy as np
from merandol import Date, DateTime, Duration, OffsetDateTime, Time, UtcOffset, Weekday
from numpy.typing import NDArray

__all__ = [
    "Zone",
    "ZoneNotFoundError",
    "ZonedDateTime",
    "Format",
    "ISO8601",
    "RFC2822",
    "HTTP_DATE",
    "available_zones",
    "ArrowColumn",
    "format_arrow",
    "format_numpy",
    "from_local_numpy",
    "from_numpy",
    "from_stdlib",
    "add_calendar",
    "round_to",
    "start_of",
    "iso_week",
    "from_iso_week",
    "days_in_month",
    "days_in_year",
    "is_leap_year",
    "add_calendar_numpy",
    "round_numpy",
    "parse_many",
    "parse_to_arrow",
    "parse_to_numpy",
    "to_local_numpy",
    "to_numpy",
    "to_stdlib",
    "Pydantic",
    "json_default",
    "msgspec_dec_hook",
    "msgspec_enc_hook",
]

# The package's version, as its metadata gives it.
__version__: str

# Objects that export an Arrow column through the PyCapsule interface.
@type_check_only
class _ArrowStreamExportable(Protocol):
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...

@type_check_only
class _ArrowArrayExportable(Protocol):
    def __arrow_c_array__(self, requested_schema: object | None = None) -> tuple[object, object]: ...

# Objects that give a numpy array through __array__, as a pandas Series does.
@type_check_only
class _ArrayConvertible(Protocol):
    def __array__(self, *args: Any, **kwargs: Any) -> NDArray[Any]: ...

type _ArrowTexts = _ArrowStreamExportable | _ArrowArrayExportable
# Texts, among which None, a float NaN and pandas' NA and NaT are missing.
type _Texts = _ArrowTexts | Iterable[str | float | object | None] | NDArray[np.str_]
type _Datetimes = NDArray[np.datetime64] | _ArrayConvertible
type _Unit = Literal["s", "ms", "us", "ns"]
type _TimeUnit = Literal["day", "hour", "minute", "second", "millisecond", "microsecond", "nanosecond"]
type _RoundingMode = Literal[
    "floor", "ceil", "trunc", "expand", "half_floor", "half_ceil", "half_trunc", "half_expand", "half_even"
]
type _Disambiguate = Literal["compatible", "earlier", "later", "raise"]
type _Value = Date | Time | DateTime | OffsetDateTime

@final
class ArrowColumn:
    def __arrow_c_schema__(self) -> Any: ...
    def __arrow_c_array__(self, requested_schema: object | None = None) -> tuple[Any, Any]: ...
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> Any: ...
    def __len__(self) -> int: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

def format_arrow(
    instants: _ArrowTexts | _Datetimes, offset: UtcOffset | Zone | None = None, *, format: Format | str | None = None
) -> ArrowColumn: ...
def parse_to_arrow(
    texts: _Texts,
    unit: _Unit = "ns",
    *,
    format: Format | str | None = None,
    zone: UtcOffset | Zone | None = None,
    disambiguate: _Disambiguate = "compatible",
) -> ArrowColumn: ...
@overload
def to_stdlib(value: Zone, *, truncate: bool = False) -> zoneinfo.ZoneInfo: ...
@overload
def to_stdlib(value: DateTime | OffsetDateTime | ZonedDateTime, *, truncate: bool = False) -> datetime.datetime: ...
@overload
def to_stdlib(value: Date, *, truncate: bool = False) -> datetime.date: ...
@overload
def to_stdlib(value: Time, *, truncate: bool = False) -> datetime.time: ...
@overload
def to_stdlib(value: UtcOffset, *, truncate: bool = False) -> datetime.timezone: ...
@overload
def to_stdlib(value: Duration, *, truncate: bool = False) -> datetime.timedelta: ...

# A datetime is also a date; it is matched first, as at run time.
@overload
def from_stdlib(obj: datetime.datetime) -> OffsetDateTime: ...  # type: ignore[overload-overlap]
@overload
def from_stdlib(obj: zoneinfo.ZoneInfo) -> Zone: ...
@overload
def from_stdlib(obj: datetime.date) -> Date: ...
@overload
def from_stdlib(obj: datetime.time) -> Time: ...
@overload
def from_stdlib(obj: datetime.timezone) -> UtcOffset: ...
@overload
def from_stdlib(obj: datetime.timedelta) -> Duration: ...
@overload
def parse_many[T: (Date, Time, DateTime, OffsetDateTime)](
    cls: type[T], texts: Iterable[str] | NDArray[np.str_], *, format: Format | str | None = None
) -> list[T]: ...
@overload
def parse_many[T: (Date, Time, DateTime, OffsetDateTime)](
    cls: type[T], texts: _Texts, *, format: Format | str | None = None
) -> list[T | None]: ...
def parse_to_numpy(
    texts: _Texts,
    unit: _Unit = "ns",
    *,
    format: Format | str | None = None,
    zone: UtcOffset | Zone | None = None,
    disambiguate: _Disambiguate = "compatible",
) -> NDArray[np.datetime64] | NDArray[np.timedelta64]: ...
@overload
def to_numpy(
    values: Iterable[Date] | Iterable[DateTime] | Iterable[OffsetDateTime] | Iterable[ZonedDateTime],
    unit: str | None = None,
) -> NDArray[np.datetime64]: ...
@overload
def to_numpy(values: Iterable[Duration], unit: str | None = None) -> NDArray[np.timedelta64]: ...
@overload
def from_numpy(array: NDArray[np.timedelta64]) -> list[Duration]: ...
@overload
def from_numpy(array: _Datetimes) -> list[Date] | list[DateTime]: ...
def format_numpy(
    array: _Datetimes, offset: UtcOffset | Zone | None = None, *, format: Format | str | None = None
) -> list[str]: ...
def to_local_numpy(array: _Datetimes, zone: Zone) -> NDArray[np.datetime64]: ...
def from_local_numpy(
    array: _Datetimes,
    zone: Zone,
    disambiguate: Literal["compatible", "earlier", "later", "raise"] = "compatible",
) -> NDArray[np.datetime64]: ...

class ZoneNotFoundError(KeyError): ...

@final
class Zone:
    def __new__(cls, key: str) -> Zone: ...
    @classmethod
    def from_tzif(cls, data: bytes | bytearray | memoryview, key: str | None = None) -> Zone: ...
    @classmethod
    def clear_cache(cls) -> None: ...
    @property
    def key(self) -> str | None: ...
    def offset_at(self, instant: DateTime | OffsetDateTime) -> UtcOffset: ...
    def to_local(self, instant: DateTime | OffsetDateTime) -> OffsetDateTime: ...
    def from_local(
        self, date: Date, time: Time, disambiguate: Literal["compatible", "earlier", "later", "raise"] = "compatible"
    ) -> OffsetDateTime: ...
    def next_transition(self, instant: DateTime | OffsetDateTime) -> OffsetDateTime | None: ...
    def previous_transition(self, instant: DateTime | OffsetDateTime) -> OffsetDateTime | None: ...
    def __eq__(self, value: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    def __sizeof__(self) -> int: ...
    def __copy__(self) -> Zone: ...
    def __deepcopy__(self, memo: Any) -> Zone: ...

def available_zones() -> set[str]: ...

@final
class ZonedDateTime:
    def __new__(
        cls, date: Date, time: Time, zone: Zone, *, disambiguate: _Disambiguate = "compatible"
    ) -> ZonedDateTime: ...
    @classmethod
    def from_instant(cls, instant: DateTime | OffsetDateTime, zone: Zone) -> ZonedDateTime: ...
    @classmethod
    def now(cls, zone: Zone) -> ZonedDateTime: ...
    @classmethod
    def from_stdlib(cls, dt: datetime.datetime) -> ZonedDateTime: ...
    @classmethod
    def parse(
        cls,
        text: str,
        *,
        offset: Literal["reject", "prefer", "use", "ignore"] = "reject",
        disambiguate: _Disambiguate = "compatible",
    ) -> ZonedDateTime: ...
    @property
    def instant(self) -> DateTime: ...
    @property
    def offset(self) -> UtcOffset: ...
    @property
    def zone(self) -> Zone: ...
    @property
    def local(self) -> DateTime: ...
    @property
    def date(self) -> Date: ...
    @property
    def time(self) -> Time: ...
    def to_offset(self) -> OffsetDateTime: ...
    def with_zone(self, zone: Zone) -> ZonedDateTime: ...
    def add(
        self,
        *,
        years: int = 0,
        months: int = 0,
        weeks: int = 0,
        days: int = 0,
        hours: int = 0,
        minutes: int = 0,
        seconds: int = 0,
        milliseconds: int = 0,
        microseconds: int = 0,
        nanoseconds: int = 0,
        disambiguate: _Disambiguate = "compatible",
    ) -> ZonedDateTime: ...
    def subtract(
        self,
        *,
        years: int = 0,
        months: int = 0,
        weeks: int = 0,
        days: int = 0,
        hours: int = 0,
        minutes: int = 0,
        seconds: int = 0,
        milliseconds: int = 0,
        microseconds: int = 0,
        nanoseconds: int = 0,
        disambiguate: _Disambiguate = "compatible",
    ) -> ZonedDateTime: ...
    def difference(self, other: ZonedDateTime) -> Duration: ...
    def round(
        self,
        unit: _TimeUnit,
        *,
        increment: int = 1,
        mode: _RoundingMode = "half_even",
    ) -> ZonedDateTime: ...
    def start_of(self, unit: Literal["year", "month", "week", "day"]) -> ZonedDateTime: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
    def __lt__(self, other: ZonedDateTime, /) -> bool: ...
    def __le__(self, other: ZonedDateTime, /) -> bool: ...
    def __gt__(self, other: ZonedDateTime, /) -> bool: ...
    def __ge__(self, other: ZonedDateTime, /) -> bool: ...
    def __hash__(self) -> int: ...
    def __reduce__(self) -> tuple[object, tuple[DateTime, Zone]]: ...
    def __copy__(self) -> ZonedDateTime: ...
    def __deepcopy__(self, memo: Any) -> ZonedDateTime: ...

# A pattern of strftime's directives, or a named form (pattern None).
@final
class Format:
    def __new__(cls, pattern: str) -> Format: ...
    @property
    def pattern(self) -> str | None: ...
    @property
    def result(self) -> type[Date] | type[Time] | type[DateTime] | type[OffsetDateTime] | None: ...
    def parse(self, text: str) -> _Value: ...
    def format(self, value: _Value) -> str: ...
    def __eq__(self, value: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    def __copy__(self) -> Format: ...
    def __deepcopy__(self, memo: Any) -> Format: ...

ISO8601: Final[Format]
RFC2822: Final[Format]
HTTP_DATE: Final[Format]

# pydantic, msgspec and JSON: each class's value as its text form.
@type_check_only
class _PydanticMarker:
    def __get_pydantic_core_schema__(self, source: type[Any], handler: Any) -> Any: ...
    def __get_pydantic_json_schema__(self, schema: Any, handler: Any) -> dict[str, Any]: ...

# Annotated[OffsetDateTime, Pydantic] makes the class a pydantic field type.
Pydantic: Final[_PydanticMarker]

def json_default(value: object) -> str: ...
def msgspec_enc_hook(value: object) -> str: ...
def msgspec_dec_hook[T: (Date, Time, DateTime, OffsetDateTime, Duration, UtcOffset, Weekday, Zone)](
    cls: type[T], value: object
) -> T: ...
def add_calendar[T: (Date, DateTime, OffsetDateTime)](
    value: T, *, years: int = 0, months: int = 0, weeks: int = 0, days: int = 0
) -> T: ...
def round_to[T: (DateTime, OffsetDateTime, Time, Duration)](
    value: T, unit: _TimeUnit, *, increment: int = 1, mode: _RoundingMode = "half_even"
) -> T: ...
def start_of[T: (Date, DateTime, OffsetDateTime, ZonedDateTime)](
    value: T, unit: Literal["year", "month", "week", "day"]
) -> T: ...
def iso_week(date: Date) -> tuple[int, int, Weekday]: ...
def from_iso_week(year: int, week: int, weekday: Weekday) -> Date: ...
def days_in_month(year: int, month: int) -> int: ...
def days_in_year(year: int) -> int: ...
def is_leap_year(year: int) -> bool: ...
def add_calendar_numpy(
    array: _Datetimes,
    *,
    years: int = 0,
    months: int = 0,
    weeks: int = 0,
    days: int = 0,
    zone: Zone | UtcOffset | None = None,
    disambiguate: _Disambiguate = "compatible",
) -> NDArray[np.datetime64]: ...
def round_numpy(
    array: _Datetimes,
    unit: _TimeUnit,
    *,
    increment: int = 1,
    mode: _RoundingMode = "half_even",
    zone: Zone | UtcOffset | None = None,
) -> NDArray[np.datetime64]: ...
