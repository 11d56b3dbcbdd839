"""`python -m norvale.worker`: the worker daemon, the same as `norvale-worker`."""

import sys

from norvale.worker.cluster.daemon import main

sys.exit(main())
