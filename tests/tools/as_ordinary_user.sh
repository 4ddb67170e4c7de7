#!/bin/sh
# Runs a test program as an ordinary user: as "nobody" when the tests run as root, as the user itself otherwise,
# so the checks of what the kernel allows hold for both.
if [ "$(id -u)" -eq 0 ]; then
    exec setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"
fi
exec "$@"
