#!/usr/bin/env bash
# scripts/with-windows decides where the Windows suites run. What must hold whatever the machine:
# a skip is only ever "the emulated machine could not be built", printed on one SKIPPED line, and
# a suite that ran returns its own status, so a failure is never reported as a pass.
#
# Runs the script against a copy of the repository's scripts with a fake i386-guest and a fake
# with-wine, on a temporary tree; nothing here starts Wine or qemu.
set -uo pipefail
# The caller's own choices (make exports some) must not decide the cases below.
unset VOREL_FORCE_EMULATED_I386 VOREL_RUN_ID VOREL_SKIP_WHAT
src=$(cd "$(dirname "$0")/../.." && pwd)
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/scripts" "$tree/build"
cp "$src/scripts/with-windows" "$src/scripts/i386-probe" "$tree/scripts/"

# The fakes: with-wine runs its command; the guest's `prepare` fails when told to (counting its
# calls), its `run` runs the command as the real one would.
cat >"$tree/scripts/with-wine" <<'EOF'
#!/usr/bin/env bash
echo "with-wine ran"
exec "$@"
EOF
cat >"$tree/fake-guest" <<'EOF'
#!/usr/bin/env bash
case "$1" in
  prepare)
    echo x >>"$FAKE_DIR/prepare-calls"
    if [ -n "${FAKE_PREPARE_FAILS:-}" ]; then echo "i386-guest: $FAKE_PREPARE_FAILS" >&2; exit 1; fi ;;
  run) shift; echo "guest ran"; exec "$@" ;;
esac
EOF
chmod +x "$tree/scripts/with-wine" "$tree/fake-guest"

passed=0 failed=0
check() {  # check NAME EXPECTED_STATUS EXPECTED_OUTPUT_REGEX UNEXPECTED_REGEX -- ENV… -- CMD…
  local name=$1 want=$2 want_re=$3 not_re=$4 env=() out status
  shift 5
  while [ "$1" != -- ]; do env+=("$1"); shift; done
  shift
  out=$(env "${env[@]}" FAKE_DIR="$tree" VOREL_I386_GUEST="$tree/fake-guest" \
        "$tree/scripts/with-windows" "$@" 2>&1)
  status=$?
  if [ "$status" = "$want" ] && grep -qE "$want_re" <<<"$out" && ! grep -qE "$not_re" <<<"$out"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAILED: %s (status %s, wanted %s)\n%s\n' "$name" "$status" "$want" "$out"
  fi
}

set_mode() { echo "$1" >"$tree/build/i386-mode"; rm -f "$tree/build/i386-guest/prepare-failed" "$tree/prepare-calls"; }

set_mode native
check "native: a failing suite fails" 3 'with-wine ran' 'SKIPPED|guest ran' -- -- bash -c 'exit 3'
check "native: a passing suite passes" 0 'with-wine ran' 'SKIPPED|guest ran' -- -- true

check "native, but forced: the emulated machine runs it" 6 'guest ran' 'SKIPPED' \
  -- VOREL_FORCE_EMULATED_I386=1 -- bash -c 'exit 6'

set_mode "emulated: test"
check "emulated: a failing suite fails" 5 'guest ran' 'SKIPPED' -- -- bash -c 'exit 5'
check "emulated: a passing suite passes" 0 'guest ran' 'SKIPPED' -- -- true
check "emulated: no machine, one skip line naming the reason" 0 \
  '^SKIPPED: Windows suites — this machine cannot run 32-bit x86 code and the emulated machine could not be prepared: no mirror$' \
  'guest ran|with-wine ran' -- FAKE_PREPARE_FAILS="no mirror" -- bash -c 'exit 7'
check "emulated: the skip names what it leaves out" 0 '^SKIPPED: the demo — ' 'guest ran' \
  -- FAKE_PREPARE_FAILS="no disk" VOREL_SKIP_WHAT="the demo" -- true

# Within one make run a machine that failed to build is not tried again; a new run tries again.
set_mode "emulated: test"
check "first try of a run" 0 '^SKIPPED: .*: slow failure$' 'guest ran' \
  -- FAKE_PREPARE_FAILS="slow failure" VOREL_RUN_ID=run1 -- true
check "same run, no second build" 0 '^SKIPPED: .*: slow failure$' 'guest ran' -- VOREL_RUN_ID=run1 -- true
[ "$(wc -l <"$tree/prepare-calls")" = 1 ] || { failed=$((failed + 1)); echo "FAILED: prepare ran again in one run"; }
check "next run builds again and runs the suite" 4 'guest ran' 'SKIPPED' -- VOREL_RUN_ID=run2 -- bash -c 'exit 4'

# The emulated machine's console: only the job's lines reach the caller, and the status is the
# job's own, also when its last line has no line end; a console without an end mark is a failure.
source <(sed -n '/^pass_job_output() {/,/^}/p' "$src/scripts/i386-guest")
console_case() {  # console_case NAME CONSOLE_TEXT WANTED_OUTPUT WANTED_STATUS
  local out status
  out=$(printf '%b' "$2" | pass_job_output)
  status=$?
  if [ "$out" = "$(printf '%b' "$3")" ] && [ "$status" = "$4" ]; then passed=$((passed + 1)); else
    failed=$((failed + 1)); printf 'FAILED: %s (status %s, output %q)\n' "$1" "$status" "$out"; fi
}
console_case "boot lines left out" 'boot\r\n@@vorel-job-start@@\r\nTest 1\r\n@@vorel-job-end@@ 8\r\n' 'Test 1' 8
console_case "last line without its end" '@@vorel-job-start@@\nok\nlast@@vorel-job-end@@ 0\n' 'ok\nlast' 0
console_case "no end mark" '@@vorel-job-start@@\nhalf' 'half' 124

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
