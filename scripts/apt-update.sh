#!/usr/bin/env bash
# apt-get update that survives a package host caught mid-sync ("File has unexpected size"):
# tries again a few times, then goes on with whatever lists apt now has. apt-get update fails
# as a whole when one index of one architecture fails, although the lists it did fetch (or had)
# serve; a package that truly cannot be found still fails the install that follows, with apt's
# own message. Extra arguments go to apt-get (a private configuration, -qq); callers that are
# not root run it with sudo.
set -uo pipefail
tries=${KAVUN_APT_TRIES:-3}
for ((i = 1; i <= tries; i++)); do
  apt-get "$@" update && exit 0
  [ "$i" -lt "$tries" ] || break
  echo "apt-get update failed (try $i of $tries); trying again in $((i * 15)) s" >&2
  sleep $((i * 15))
done
echo "warning: apt-get update kept failing; going on with the package lists at hand" >&2
exit 0
