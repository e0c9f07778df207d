# Sourced by the CI scripts: installs Debian packages only when missing.

# apt_get ARGUMENT...: apt-get, waiting while another apt-get or dpkg holds
# a lock it needs (up to 20 minutes), rather than failing at once.
apt_get() {
    local waited=0 output
    while true; do
        if output=$(DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=1200 "$@" 2>&1); then
            [[ -z $output ]] || printf '%s\n' "$output"
            return 0
        fi
        if [[ $output != *"Could not get lock"* ]] || ((waited >= 1200)); then
            printf '%s\n' "$output" >&2
            return 1
        fi
        ((waited > 0)) || echo "waiting for the package manager's lock: ${output%%$'\n'*}"
        sleep 5
        ((waited += 5))
    done
}

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
        apt_get update -qq || return 1
        export MEMBERSHIP_CI_APT_UPDATED=1
    fi
    apt_get install -y -qq --no-install-recommends "${missing[@]}"
}
