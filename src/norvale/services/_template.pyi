# The native half of the Tarsis template-filling service (norvale.services.tarsis_template).
from typing import Optional, Sequence, Tuple

MEMBERS: Tuple[str, ...]
SETUP_MEMBERS: Tuple[str, ...]

def fill(text: str, members: Sequence[str], single: Sequence[str], ns: str, def_name: str, level: int = 6,
         window: int = 1048576) -> Optional[Tuple[str, str]]: ...
def render(json: bytes, members: Sequence[str], single: Sequence[str], ns: str,
           def_name: str) -> Optional[Tuple[bytes, bytes]]: ...
