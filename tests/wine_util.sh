# Sourced by the scripts that run Windows programs under Wine (tests/windows_parity.sh,
# tests/windows_window.sh, scripts/screenshot_windows.sh).

# The Windows spelling of a Unix path: Z: (Wine's drive for the Unix root) and backslashes.
winpath() {
    local p
    p=$(realpath -m "$1")
    printf 'Z:%s' "${p//\//\\}"
}
