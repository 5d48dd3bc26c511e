"""Hypothesis strategies that more than one test file draws from."""

from hypothesis import strategies as st


def rfc3339_texts(offsets, separators=("T",), paddings=("",)):
    """RFC 3339 texts of years 0 to 9999 with 0 to 9 fraction digits, the
    given offsets and date-time separators, each after one of the paddings."""
    return st.builds(
        lambda pad, y, mo, d, h, mi, s, fraction, sep, offset: (
            f"{pad}{y:04d}-{mo:02d}-{d:02d}{sep}{h:02d}:{mi:02d}:{s:02d}"
            + (f".{fraction}" if fraction else "")
            + offset
        ),
        st.sampled_from(paddings),
        st.integers(0, 9999),
        st.integers(1, 12),
        st.integers(1, 28),
        st.integers(0, 23),
        st.integers(0, 59),
        st.integers(0, 59),
        st.text("0123456789", max_size=9),
        st.sampled_from(separators),
        st.sampled_from(offsets),
    )
