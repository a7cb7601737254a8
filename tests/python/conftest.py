import pytest

import strokegraph


@pytest.fixture(scope="session")
def sg():
    return strokegraph
