# The native half of the Tarsis template-filling service (norvale.services.tarsis_template).
from typing import Literal, Optional, Sequence, Tuple, Union, overload

MEMBERS: Tuple[str, ...]
SETUP_MEMBERS: Tuple[str, ...]
MAX_DEPTH: int

def fill(text: str, members: Sequence[str], single: Sequence[str], ns: str, def_name: str, level: int = 6,
         window: int = 1048576) -> Union[Tuple[str, str], str, None]: ...
@overload
def render(json: bytes, members: Sequence[str], single: Sequence[str], ns: str, def_name: str,
           pack: Literal[False] = False) -> Union[Tuple[bytes, bytes], str, None]: ...
@overload
def render(json: bytes, members: Sequence[str], single: Sequence[str], ns: str, def_name: str,
           pack: Literal[True]) -> Union[Tuple[str, str], str, None]: ...
