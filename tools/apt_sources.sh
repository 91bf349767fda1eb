# What this machine's apt sources say, for the set-up and tools/fresh_debian.sh. Source it.

# Prints "URI [KEYRING]" for each enabled deb entry (one-line sources.list or deb822 .sources) that
# names the suite $1, deb822 first; nothing when none does. Missing files are no error: Debian's
# installer and debootstrap write only sources.list, cloud images only .sources files.
debian_mirror() {
  local suite=$1 f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v suite="$suite" '
      function flush() { if (deb && has_suite && on && uri != "") print uri, key
                         deb = has_suite = 0; on = 1; uri = key = "" }
      BEGIN { on = 1 }
      /^[ \t]*$/ { flush(); next }
      /^[ \t]*#/ { next }
      tolower($1) == "types:" { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
      tolower($1) == "uris:" { uri = $2 }
      tolower($1) == "suites:" { for (i = 2; i <= NF; i++) if ($i == suite) has_suite = 1 }
      tolower($1) == "signed-by:" && $2 ~ /^\// { key = $2 }
      tolower($1) == "enabled:" && tolower($2) == "no" { on = 0 }
      END { flush() }' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    # deb [options] URI SUITE COMPONENTS...; the options may hold signed-by=FILE.
    awk -v suite="$suite" '
      $1 == "deb" { i = 2; key = ""
                    if ($i ~ /^\[/) {
                      for (; i <= NF; i++) {
                        if (match($i, /signed-by=[^] ]+/)) key = substr($i, RSTART + 10, RLENGTH - 10)
                        if ($i ~ /\]$/) break
                      }
                      i++
                    }
                    if ($(i + 1) == suite) print $i, key }' "$f"
  done
}
