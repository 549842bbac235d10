# Sourced by the scripts: ensure_packages PACKAGE... installs with apt-get
# whatever of the named Debian packages is missing, without reading
# standard input.
ensure_packages() {
  local missing=() package status
  for package in "$@"; do
    status="$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)"
    if [[ "$status" != "install ok installed" ]]; then
      missing+=("$package")
    fi
  done
  ((${#missing[@]} > 0)) || return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  if [[ $(id -u) -ne 0 ]]; then sudo=(sudo -n); fi
  export DEBIAN_FRONTEND=noninteractive
  ${sudo[@]+"${sudo[@]}"} apt-get update </dev/null
  ${sudo[@]+"${sudo[@]}"} apt-get install -y "${missing[@]}" </dev/null
}
