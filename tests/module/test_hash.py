"""Every class hashes its compared fields with SipHash-1-3 (zero key), checked
against a plain Python rendering of the algorithm."""

import struct

from hypothesis import given
from hypothesis import strategies as st
from merandol import Date, DateTime, Duration, OffsetDateTime, Time, UtcOffset

MASK = (1 << 64) - 1


def rotl(x, b):
    return ((x << b) | (x >> (64 - b))) & MASK


def siphash13(data):
    v0, v1, v2, v3 = 0x736F6D6570736575, 0x646F72616E646F6D, 0x6C7967656E657261, 0x7465646279746573

    def sip_round():
        nonlocal v0, v1, v2, v3
        v0 = (v0 + v1) & MASK
        v1 = rotl(v1, 13)
        v1 ^= v0
        v0 = rotl(v0, 32)
        v2 = (v2 + v3) & MASK
        v3 = rotl(v3, 16)
        v3 ^= v2
        v0 = (v0 + v3) & MASK
        v3 = rotl(v3, 21)
        v3 ^= v0
        v2 = (v2 + v1) & MASK
        v1 = rotl(v1, 17)
        v1 ^= v2
        v2 = rotl(v2, 32)

    blocks = len(data) // 8
    for i in range(blocks):
        (m,) = struct.unpack_from("<Q", data, 8 * i)
        v3 ^= m
        sip_round()
        v0 ^= m
    tail = data[8 * blocks :] + bytes(8 - len(data) % 8)
    m = struct.unpack("<Q", tail)[0] | ((len(data) & 0xFF) << 56)
    v3 ^= m
    sip_round()
    v0 ^= m
    v2 ^= 0xFF
    for _ in range(3):
        sip_round()
    h = v0 ^ v1 ^ v2 ^ v3
    h = h - (1 << 64) if h >= 1 << 63 else h
    return -2 if h == -1 else h


def datetime_bytes(dt):
    d, t = dt.date, dt.time
    return struct.pack("<iBBBBBI", d.year, d.month, d.day, t.hour, t.minute, t.second, t.nanosecond)


instants = st.integers(-67768100567971200, 67767976233532799).map(DateTime.from_unix_timestamp)
nanos = st.integers(0, 999999999)


@given(instants, nanos, st.integers(-86400, 86400))
def test_every_class_hashes_its_fields(at, ns, seconds):
    dt = DateTime.from_unix_timestamp(at.unix_timestamp(), ns)
    assert hash(dt) == siphash13(datetime_bytes(dt))
    d = dt.date
    assert hash(d) == siphash13(struct.pack("<iBB", d.year, d.month, d.day))
    t = dt.time
    assert hash(t) == siphash13(struct.pack("<BBBI", t.hour, t.minute, t.second, t.nanosecond))
    offset = UtcOffset.from_seconds(seconds)
    assert hash(offset) == siphash13(struct.pack("<i", seconds))
    v = OffsetDateTime.from_utc(dt, offset)
    assert hash(v) == siphash13(datetime_bytes(dt) + struct.pack("<i", seconds))


@given(st.integers(-(2**127), 2**127 - 1))
def test_duration_hashes_its_sixteen_bytes(span):
    assert hash(Duration.nanoseconds(span)) == siphash13(span.to_bytes(16, "little", signed=True))


def test_reference_reproduces_the_quoted_values():
    assert siphash13(bytes(7)) == -8539203582074308692
    assert hash(Time(0, 0, 0)) == siphash13(bytes(7))
    assert hash(Date(1970, 1, 1)) == siphash13(bytes.fromhex("b2070000 0101"))
