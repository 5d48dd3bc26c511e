import os

from hypothesis import HealthCheck, settings

# MERANDOL_HYPOTHESIS=thorough runs many more examples per property;
# MERANDOL_HYPOTHESIS=slow fewer, for runs under valgrind and the debug
# interpreter.  No profile has a deadline: speed is no property under test.
settings.register_profile("thorough", max_examples=5000, deadline=None)
settings.register_profile(
    "slow", max_examples=15, deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large]
)
settings.register_profile("default", deadline=None)
settings.load_profile(os.environ.get("MERANDOL_HYPOTHESIS", "default"))
