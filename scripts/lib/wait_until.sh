# Sourced by the scripts that wait for a program under Xvfb (lib/e2e.sh for e2e_gui.sh,
# ci-package.sh).

# wait_until SECONDS COMMAND...: runs COMMAND every 0.2 s until it succeeds or time is up.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}
