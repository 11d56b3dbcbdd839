#!/usr/bin/env sh
# Prints the path of a Python 3.13 interpreter: python3.13 on PATH, else a pyenv-installed 3.13.
# Exits 1 with advice when there is none.
ok() { "$1" -c 'import sys; sys.exit(0 if sys.version_info[:2] == (3, 13) else 1)' >/dev/null 2>&1; }
for candidate in python3.13 python3; do
    path=$(command -v "$candidate" 2>/dev/null) || continue
    if ok "$path"; then
        "$path" -c 'import sys; print(sys.executable)'
        exit 0
    fi
done
root=${PYENV_ROOT:-$HOME/.pyenv}
for path in $(ls -d "$root"/versions/3.13*/bin/python3.13 2>/dev/null | sort -rV); do
    if ok "$path"; then
        echo "$path"
        exit 0
    fi
done
echo "norvale needs Python 3.13, which was not found: install it (for example 'pyenv install 3.13'" \
     "or your system's python3.13 package) and run make again." >&2
exit 1
