# Sourced by the package-making scripts of the tests. settings NAME LINES...
# writes $out/src/NAME.ini with the given INI lines, CR LF ended.
settings() {
  local name=$1
  shift
  printf '%s\r\n' "$@" > "$out/src/$name.ini"
}
