# Sourced by every script of tests/scripts: a scratch folder of the run's
# own, $work (removed at exit with all it holds, parts made read-only or
# immutable included), the counts of passed and failed checks, and the
# closing line that says them.
#
#   pass                    counts a check that held
#   fail NAME...            says which check failed (and, when the script
#                           defines show_failure, what its last run said)
#   skip NAME...            says what was not checked, and why
#   check NAME COMMAND...   passes when the command succeeds (what it
#                           printed is shown when it fails)
#   at_exit COMMAND         runs COMMAND (a string) at exit, before $work goes
#   missing_tools TOOL...   the tools of the list that are not installed
#   skip_all WHY            ends the run as skipped, with the closing line
#   summary                 the closing line; its status is the run's
work=$(mktemp -d)
passed=0
failures=0
harness_name=$(basename "$0" .sh)
harness_exit_steps=()

at_exit() { harness_exit_steps+=("$1"); }
harness_exit() {
  local step
  for step in "${harness_exit_steps[@]}"; do eval "$step"; done
  chmod -R u+rwx "$work" 2>/dev/null
  rm -rf "$work"
}
trap harness_exit EXIT

pass() { passed=$((passed + 1)); }
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
  if declare -F show_failure >/dev/null; then show_failure; fi
}
skip() { echo "SKIPPED: $*"; }
check() {
  local name=$1
  shift
  if "$@" >"$work/check.log" 2>&1; then pass; else
    fail "$name"
    sed 's/^/    /' "$work/check.log" | tail -15
  fi
}

missing_tools() {
  local tool missing=""
  for tool in "$@"; do command -v "$tool" >/dev/null || missing+=" $tool"; done
  echo "$missing"
}
skip_all() {
  skip "$*"
  summary
  exit 0
}

summary() {
  echo "$harness_name: $passed passed, $failures failed"
  [ "$failures" -eq 0 ]
}
