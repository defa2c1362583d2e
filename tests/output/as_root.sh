# Sourced by the scripts that mount the tests' file systems.

# What runs a command as root here: nothing when this is root, else sudo without a password. Fails, saying why on
# standard error, when neither will do.
root_prefix() {
    if [ "$(id -u)" -eq 0 ]; then
        echo ""
    elif sudo -n true 2>/dev/null; then
        echo "sudo -n"
    else
        echo "neither root nor sudo without a password" >&2
        return 1
    fi
}

as_root() {
    prefix=$(root_prefix) || return 1
    $prefix "$@"
}
