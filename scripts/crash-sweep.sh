#!/usr/bin/env bash
# The crash-point sweep of the real program (tests/e2e/crash_sweep.sh): every
# step where a silent run with the compatible image reaches the outside, each
# stopped twice (kill -9; the session ended as Windows ends it), and the
# window run's steps with the session ended; after each stop a silent run in
# the same boot and one after a restart, and five invariants checked from the
# stand-ins' records, the registry and the logs. Builds and prepares what
# scripts/e2e.sh does, then prints one row per stop and "N stops, M
# violations" (kept in build/e2e-out/sweep/table.txt, each stop's records
# beside it); exits non-zero on any violation. E2E_LANES (default 6): machines
# side by side; E2E_SWEEP=sample: the fixed sample that CI runs;
# E2E_SWEEP_ONLY: a regular expression over "RUN STOP STEP" (e.g. 'kill
# ReadFirmware') to make some stops only; E2E_PRODUCT: a folder with another
# TbtFwUpdate.exe and data\Update.ini to sweep.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
export E2E_SWEEP=${E2E_SWEEP:-full} E2E_LANES=${E2E_LANES:-6}
exec scripts/e2e.sh "$@"
