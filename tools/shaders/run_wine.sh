#!/usr/bin/env bash
# Runs a build-time Windows program under Wine with the environment of the
# test command (tools/setup/env.sh: the prefix, 32-bit, quiet).
set -euo pipefail
source "$(cd "$(dirname "${BASH_SOURCE[0]}")/../setup" && pwd)/env.sh"
exec wine "$@"
