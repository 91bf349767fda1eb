#!/usr/bin/env bash
# tools/apt_sources.sh against canned answers of apt: which repository is Debian's mirror for a
# release, where qemu-user 10 comes from, and what a mirror's backports would offer, asked without
# /etc/apt. apt-get and apt-cache are stand-ins on PATH that answer from the row; like apt, they
# answer in Japanese unless LC_ALL=C.
set -euo pipefail
source "$1"
tavro_step() { "$@"; }
bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
cat >"$bin/apt" <<'STUB'
#!/usr/bin/env bash
ja=; [ "${LC_ALL:-}" = C ] || [[ ${LANG:-} != ja* ]] || ja=1
[ "$1" != -qq ] || shift
case "$(basename "$0") $1" in
  "apt-get indextargets")
    IFS=';' read -ra repos <<<"$REPOS"
    for r in "${repos[@]}"; do
      IFS=, read -r origin codename suite uri <<<"$r"
      for arch in amd64 i386; do
        printf 'Codename: %s\nOrigin: %s\nSuite: %s\nArchitecture: %s\nFallback-Of: \nRepo-URI: %s\nTarget-Of: deb\n\n' \
          "$codename" "$origin" "$suite" "$arch" "$uri"
      done
    done ;;
  "apt-get update")
    # Only through a configuration of the caller's own, which names no sources of the machine's.
    grep -q '^Dir::Etc::SourceParts "/tmp' "${APT_CONFIG:-/dev/null}" || exit 99
    [ "${PROBE%%:*}" = 0 ] || { echo "E: The repository does not have a Release file." >&2; exit 100; } ;;
  "apt-cache -t")
    [ "$2" = "${BPO_SUITE:-}" ] || { echo "E: release '$2' not found" >&2; exit 100; }
    v=${BPO:-}
    [ -z "${APT_CONFIG:-}" ] || v=${PROBE#*:} ;;&
  "apt-cache policy") v=$OWN ;;&
  "apt-cache "*)
    if [ -n "$ja" ]; then printf 'qemu-user:\n  インストールされているバージョン: (なし)\n  候補:  %s\n' "${v:-(なし)}"
    else printf 'qemu-user:\n  Installed: (none)\n  Candidate: %s\n' "${v:-(none)}"; fi ;;
  *) exit 100 ;;
esac
STUB
chmod +x "$bin/apt"
ln -s apt "$bin/apt-get"
ln -s apt "$bin/apt-cache"
PATH=$bin:$PATH

deb=http://deb.debian.org/debian/
failed=0
# case | release | LANG | repositories apt serves (origin,codename,suite,URI;...) | candidate |
# backports' candidate | Debian's mirror | qemu_source | the private update's status:the candidate
# it finds | backports_offer, where qemu_source says add
while IFS='|' read -r name release lang repos own bpo mirror want probe offer; do
  export REPOS=$repos OWN=$own BPO=$bpo BPO_SUITE=$release-backports LANG=$lang LC_ALL='' PROBE=$probe
  got_mirror=$(debian_mirror "$release")
  got=$(qemu_source "$release")
  got_offer=
  [[ $got != add\ * ]] || got_offer=$(TMPDIR=/tmp backports_offer "${got#add }" "$release")
  if [ "$got_mirror" != "$mirror" ] || [ "$got" != "$want" ] || [ "$got_offer" != "$offer" ]; then
    echo "$name: mirror '$got_mirror', qemu '$got', offer '$got_offer'; want '$mirror', '$want', '$offer'"
    failed=1
  fi
done < <(sed "s|DEB|$deb|g; s/^ *//" <<'ROWS'
  plain 12|bookworm|C.UTF-8|Debian,bookworm,oldstable,DEB;Debian Backports,bookworm-backports,oldstable-backports,DEB|1:7.2+dfsg-7|1:10.0.2+ds-2~bpo12+1|DEB|bookworm-backports
  alias|trixie|C.UTF-8|Debian,trixie,stable,DEB;Debian,trixie-security,stable-security,http://deb.debian.org/debian-security/|1:10.0.2+ds-2||DEB|trixie
  vendor first|bookworm|C.UTF-8|Vendor,bookworm,stable,file:/srv/vendor/;Vendor Backports,bookworm-backports,x,file:/srv/vendor/;Debian,bookworm,oldstable,DEB|1:7.2+dfsg-7||DEB|add DEB|0:1:10.0.2+ds-2~bpo12+1|bookworm-backports
  translated|trixie|ja_JP.UTF-8|Debian,trixie,stable,DEB|1:10.0.2+ds-2||DEB|trixie
  no qemu 10|bookworm|ja_JP.UTF-8|Debian,bookworm,oldstable,DEB;Debian Backports,bookworm-backports,oldstable-backports,DEB|1:7.2+dfsg-7|1:7.2+dfsg-7|DEB|none 1:7.2+dfsg-7
  disabled entry|bookworm|C.UTF-8|Debian,bookworm,oldstable,http://ftp.jp.debian.org/debian/|1:7.2+dfsg-7||http://ftp.jp.debian.org/debian/|add http://ftp.jp.debian.org/debian/|0:1:7.2+dfsg-7~bpo|none 1:7.2+dfsg-7~bpo
  mirror+ URI|bookworm|C.UTF-8|Debian,bookworm,oldstable,mirror+file:/etc/apt/mirrors/debian.list/|1:7.2+dfsg-7||mirror+file:/etc/apt/mirrors/debian.list/|add mirror+file:/etc/apt/mirrors/debian.list/|0:1:10.0.2+ds-2~bpo12+1|bookworm-backports
  no backports served|bookworm|ja_JP.UTF-8|Debian,bookworm,oldstable,file:/srv/mirror/|1:7.2+dfsg-7||file:/srv/mirror/|add file:/srv/mirror/|100:|none 1:7.2+dfsg-7
  no Debian|bookworm|C.UTF-8|Vendor,bookworm,stable,file:/srv/vendor/||||none
ROWS
)
exit $failed
