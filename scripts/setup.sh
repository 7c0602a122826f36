#!/usr/bin/env bash
# Prepares a fresh machine for building and testing: a CPython 3.12 interpreter, the venv
# .venv, the Python packages, and Debian packages for the C++ tests. Safe to run again.
# Sourced by scripts/demo and scripts/test; prints what it does on stderr.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
venv="$root/.venv"

say() { printf '[setup] %s\n' "$*" >&2; }

find_python312() {
    local candidate
    if command -v python3.12 >/dev/null 2>&1 && python3.12 -c 'import sys; assert sys.version_info[:2] == (3, 12)' 2>/dev/null; then
        command -v python3.12
        return 0
    fi
    if command -v pyenv >/dev/null 2>&1; then
        local pyenv_root
        pyenv_root="$(pyenv root)"
        for candidate in "$pyenv_root"/versions/3.12*/bin/python3.12; do
            if [ -x "$candidate" ] && "$candidate" -c 'import sys; assert sys.version_info[:2] == (3, 12)' 2>/dev/null; then
                echo "$candidate"
                return 0
            fi
        done
    fi
    for candidate in "$HOME"/.pyenv/versions/3.12*/bin/python3.12 /usr/local/bin/python3.12 /usr/bin/python3.12; do
        if [ -x "$candidate" ] && "$candidate" -c 'import sys; assert sys.version_info[:2] == (3, 12)' 2>/dev/null; then
            echo "$candidate"
            return 0
        fi
    done
    return 1
}

apt_install() {
    # Installs the Debian packages that are missing; needs root or sudo.
    local missing=()
    local package
    for package in "$@"; do
        dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then sudo="sudo"; else
            say "missing Debian packages ${missing[*]} and no root rights to install them"
            return 1
        fi
    fi
    say "installing Debian packages: ${missing[*]}"
    if ! $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >/dev/null; then
        $sudo apt-get update -q >/dev/null
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >/dev/null
    fi
}

if [ ! -x "$venv/bin/python" ] || ! "$venv/bin/python" -c 'import sys; assert sys.version_info[:2] == (3, 12)' 2>/dev/null; then
    if ! python312="$(find_python312)"; then
        say "no CPython 3.12 interpreter found: install one (python3.12 on PATH, or 'pyenv install 3.12') and run again"
        exit 1
    fi
    say "creating $venv with $python312"
    rm -rf "$venv"
    "$python312" -m venv "$venv"
fi

requirements="$root/scripts/requirements-dev.txt"
stamp="$venv/.requirements-installed"
if [ ! -f "$stamp" ] || ! cmp -s "$requirements" "$stamp"; then
    say "installing Python packages into $venv"
    "$venv/bin/python" -m pip install -q --upgrade pip >/dev/null
    "$venv/bin/python" -m pip install -q -r "$requirements"
    cp "$requirements" "$stamp"
fi

export VARDOLN_VENV="$venv"
