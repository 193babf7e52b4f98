# Sourced by the scripts that run the Windows build under wine (scripts/test-windows,
# scripts/measure-window-start); run from the checkout's root.

# wine_display SCRIPT ARGS...: re-runs the calling script under a private X server when
# there is no display, as real windows need one.
wine_display() {
  if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
  fi
}

# wine_prefix NAME: the Windows build's private prefix, made ready and exported; its wine
# server (and anything left behind in it) ends with the calling script. Returns 1, with
# wineboot's last lines, when the prefix cannot be made.
wine_prefix() {
  export WINEPREFIX="$PWD/build-windows/wine-prefix"
  export WINEDEBUG=-all
  # No desktop integration, no crash dialog: a failing test ends, it does not wait.
  export WINEDLLOVERRIDES="winemenubuilder.exe=d;winedbg.exe=d"
  # The first start creates the prefix, which takes a while; it is bounded on its own so
  # that the tests' own time limits measure the tests.
  if ! timeout 300 wine wineboot --init >build-windows/wineboot.log 2>&1; then
    echo "$1: wineboot failed or timed out"
    tail -n 20 build-windows/wineboot.log
    return 1
  fi
  # Wine's window manager hand-off costs each window two seconds under a bare X server;
  # wine manages its windows itself. The window's font maps onto an installed CJK face,
  # as on a Windows PC that has it.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' \
    /v SimSun /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1
  trap 'wineserver --kill >/dev/null 2>&1 || true' EXIT
}
