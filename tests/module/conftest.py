import os

from hypothesis import HealthCheck, settings

# No deadline: an example's speed is no property of the module, and the same
# tests run under sanitizers, valgrind and the debug interpreter.  There the
# "slow" profile also draws fewer examples.
settings.register_profile("merandol", deadline=None)
settings.register_profile("slow", deadline=None, max_examples=15,
                          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
settings.load_profile("slow" if os.environ.get("MERANDOL_HYPOTHESIS_PROFILE") == "slow" else "merandol")
