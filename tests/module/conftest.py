import os

from hypothesis import settings

# MERANDOL_HYPOTHESIS=thorough runs many more examples per property.
settings.register_profile("thorough", max_examples=5000, deadline=None)
settings.register_profile("default", deadline=None)
settings.load_profile(os.environ.get("MERANDOL_HYPOTHESIS", "default"))
