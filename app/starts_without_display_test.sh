#!/bin/sh
# Runs the program with no display at all and checks that it reports why on
# standard error, in the start-up report's form, and exits with code 1.
# Usage: starts_without_display_test.sh <path of fiscal-rates-numeric>
program=$1
error_text=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" 2>&1 >/dev/null)
code=$?
printf '%s\n' "$error_text"
if [ "$code" -ne 1 ]; then
  echo "expected exit code 1, got $code"
  exit 1
fi
expected_start='Exception StartupError in module fiscal-rates-numeric at '
case "$error_text" in
  "$expected_start"*) ;;
  *) echo "expected the report to start with: $expected_start"; exit 1 ;;
esac
case "$error_text" in
  *"no display is set (DISPLAY and WAYLAND_DISPLAY are empty)."*) ;;
  *) echo "expected the reason with its period"; exit 1 ;;
esac
