# Sourced by the CI scripts: installs Debian packages only when missing.

# ensure_packages PACKAGE...: apt-get installs those not installed yet,
# running 'apt-get update' first, once per CI run.
ensure_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    ((${#missing[@]} > 0)) || return 0
    echo "installing: ${missing[*]}"
    if [[ -z "${MEMBERSHIP_CI_APT_UPDATED:-}" ]]; then
        apt-get update -qq
        export MEMBERSHIP_CI_APT_UPDATED=1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
