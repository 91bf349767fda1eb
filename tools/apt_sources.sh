# What this machine's apt makes of its sources, for the set-up and tools/fresh_debian.sh. Source it.
# Every answer is apt's own view after an update, read in its untranslated words (LC_ALL=C), never
# the sources files: apt alone knows what an alias, a disabled entry, either format or a mirror+ URI
# comes to, and only a Release file tells whose repository it is.

# "ORIGIN|CODENAME|REPO-URI" of each repository apt has binary package lists of, in the order of
# the sources, once each. A repository whose update failed has none, so it is not listed.
apt_repos() {
  LC_ALL=C apt-get indextargets 2>/dev/null | awk -v RS= -F '\n' '
    { origin = codename = uri = of = ""
      for (i = 1; i <= NF; i++) {
        name = $i; sub(/:.*/, "", name); value = $i; sub(/^[^:]*: */, "", value)
        if (name == "Origin") origin = value
        else if (name == "Codename") codename = value
        else if (name == "Repo-URI") uri = value
        else if (name == "Target-Of") of = value
      }
      if (of == "deb" && uri != "" && !seen[origin "|" codename "|" uri]++) print origin "|" codename "|" uri
    }'
}

# The URI of the first repository apt serves Debian's release $1 from (a codename: bookworm,
# trixie-backports); nothing when it has none. Backports' Release files say "Debian Backports".
debian_mirror() {
  local origin=Debian
  [[ $1 != *-backports ]] || origin="Debian Backports"
  apt_repos | awk -F '|' -v origin="$origin" -v codename="$1" \
    '$1 == origin && $2 == codename { print $3; exit }'
}

# The version of package $1 that apt would install (from release $2 when given); nothing if none.
apt_candidate() {
  LC_ALL=C apt-cache ${2:+-t "$2"} policy "$1" 2>/dev/null |
    awk '$1 == "Candidate:" && $2 != "(none)" { print $2 }'
}

# qemu before 10.0 will not do: 7.2 (Debian 12's own) emulates no SHA instructions and spends about
# a minute per Wine process emulating mmap.
qemu_new_enough() { [ -n "$1" ] && dpkg --compare-versions "$1" ge 1:10.0; }

# Where qemu-user 10 or later comes from on Debian release $1 (its codename), from apt's answers:
#   RELEASE            the release's own candidate is new enough;
#   RELEASE-backports  apt serves the release's backports, and their candidate is;
#   add URI            apt serves no backports yet; URI is its Debian mirror for the release;
#   none [VERSION]     apt offers nothing new enough (VERSION: its best, if any).
qemu_source() {
  local release=$1 backports=$1-backports own bpo mirror
  own=$(apt_candidate qemu-user)
  if qemu_new_enough "$own"; then echo "$release"; return; fi
  if [ -n "$(debian_mirror "$backports")" ]; then
    bpo=$(apt_candidate qemu-user "$backports")
    if qemu_new_enough "$bpo"; then echo "$backports"; else echo "none${own:+ $own}"; fi
    return
  fi
  mirror=$(debian_mirror "$release")
  if [ -n "$mirror" ]; then echo "add $mirror"; else echo "none${own:+ $own}"; fi
}

# Debian's archive keys, which sign its mirrors' Release files, backports' too.
debian_keyring=/usr/share/keyrings/debian-archive-keyring.gpg

# A fingerprint of apt's lists: it changes whenever an update changes what apt knows.
apt_lists_stamp() { stat -c '%n %s %Y' /var/lib/apt/lists/* 2>/dev/null | cksum | cut -d ' ' -f 1; }

# Where apt serves no backports of release $2 yet: what the backports suite of its Debian mirror $1
# would offer, asked without writing into /etc/apt (a sources list, lists and cache of our own for
# one update). Prints "RELEASE-backports" when that is qemu-user 10 or later, else "none VERSION"
# (its best, or the release's own when the mirror serves no backports).
backports_offer() {
  local dir suite=$2-backports signed= best=
  dir=$(mktemp -d)
  mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial" "$dir/parts"
  [ ! -f "$debian_keyring" ] || signed="[signed-by=$debian_keyring] "
  echo "deb $signed$1 $suite main" >"$dir/sources.list"
  printf 'Dir::Etc::SourceList "%s";\nDir::Etc::SourceParts "%s";\nDir::State::Lists "%s";\nDir::Cache "%s";\n' \
    "$dir/sources.list" "$dir/parts" "$dir/lists" "$dir/cache" >"$dir/apt.conf"
  # As root, apt would download as the user _apt, who cannot enter this folder.
  [ "$(id -u)" -ne 0 ] || echo 'APT::Sandbox::User "root";' >>"$dir/apt.conf"
  if tavro_step env APT_CONFIG="$dir/apt.conf" LC_ALL=C apt-get -qq update >/dev/null 2>&1; then
    best=$(export APT_CONFIG="$dir/apt.conf" && apt_candidate qemu-user "$suite")
  fi
  rm -rf "$dir"
  if qemu_new_enough "$best"; then echo "$suite"; else echo "none ${best:-$(apt_candidate qemu-user)}"; fi
}
