#!/usr/bin/env bash
# The full damage sweep: every readable corpus file x every kind of damage, at several seeded
# positions, then repair; each outcome is judged as in tests/support/repair_sweep.h (repaired:
# checker clean, mdbtools reads every table, every row of undamaged pages kept; or failed with
# a Jet error and the file byte-identical). Prints a line per kind and the share of rows kept.
#
# usage: tests/repair_sweep.sh JET_TESTS [POSITIONS] [FILE_SUBSTRING]
#   JET_TESTS a jet_tests binary built with JET_CORPUS_DIR (a release build is much faster);
#   POSITIONS targets per kind and file (default 6; each is tried with two seeds).
# Exit 0 when every trial ended in one of the two allowed outcomes.
set -euo pipefail
jet_tests=${1:?usage: repair_sweep.sh JET_TESTS [POSITIONS] [FILE_SUBSTRING]}
export REPAIR_SWEEP_POSITIONS=${2:-6}
if [ -n "${3:-}" ]; then export REPAIR_SWEEP_FILES=$3; fi
exec "$jet_tests" --gtest_also_run_disabled_tests --gtest_filter='CorpusRepairTest.DISABLED_FullCorpusSweep'
