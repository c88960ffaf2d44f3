# Sourced by install-deps.sh and install-wine32.sh: apt-get that rides out a
# mirror briefly out of step with itself ("File has unexpected size ...
# Mirror sync in progress?") and stops only for a package that apt truly
# cannot install, saying why in one line.
# The caller may set SUDO (a command prefix; empty as root) and apt_options
# (more apt-get options, for every call).

# apt may be held for a while by another installation: wait for it.
apt_get() {
  ${SUDO:-} env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 ${apt_options:-} "$@"
}

# apt's output on stdin as one line: the first unmet dependency it names,
# then its errors.
apt_one_line() {
  awk '/^E: / { sub(/^E: /, ""); gsub(/  +/, " "); errors = errors (errors ? "; " : "") $0 }
       /^ +[^ ]+ : [A-Za-z-]+: / && !unmet { unmet = $0; sub(/^ +/, "", unmet) }
       END { print (unmet && errors ? unmet "; " : unmet) errors }'
}

# Fetches the package indexes; while the mirror answers with errors, tries
# again, four times over about a minute and a half. apt reports an index it
# cannot reach as a warning and one of the wrong size as an error: both count.
# Failures that outlast the tries do not stop the caller: the indexes apt
# still has may well do, which apt_installable decides.
apt_update() {
  tries=4
  while :; do
    apt_out=$(apt_get update -q 2>&1) && ! printf '%s\n' "$apt_out" | grep -q '^[WE]: Failed to fetch' && return 0
    tries=$((tries - 1))
    [ "$tries" = 0 ] && break
    echo "apt-get update failed; trying again in 30s"
    sleep 30
  done
  failure=$({ printf '%s\n' "$apt_out" | grep '^[WE]: Failed to fetch'; printf '%s\n' "$apt_out" | grep '^E: '; } |
    head -n 1 | sed 's/^[WE]: //' | tr -s ' ')
  echo "apt-get update still fails (${failure:-no reason given}); going on with the indexes apt has"
}

# Whether apt can install the packages (apt-get install arguments) now
# without removing any: the rest of the build depends on what is installed.
# When not, apt_reason says why in one line.
apt_installable() {
  if ! apt_out=$(apt_get install -s "$@" 2>&1); then
    apt_reason=$(printf '%s\n' "$apt_out" | apt_one_line)
    return 1
  fi
  removed=$(printf '%s\n' "$apt_out" | sed -n 's/^Remv \([^ ]*\).*/\1/p' | tr '\n' ' ')
  [ -z "$removed" ] && return 0
  apt_reason="apt would have to remove ${removed% }"
  return 1
}

# Installs the packages (apt-get install arguments); when that fails,
# apt_reason says why in one line.
apt_install() {
  apt_out=$(apt_get install -y -q "$@" 2>&1) && return 0
  apt_reason=$(printf '%s\n' "$apt_out" | apt_one_line)
  return 1
}
