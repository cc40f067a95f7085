# Shell functions shared by the scripts that build Debian chroots with debootstrap (sourced, not run).

# The Debian mirror this machine's own apt uses: the first source whose path ends in /debian.
mirror() {
  local files=() uri
  [ -f /etc/apt/sources.list ] && files+=(/etc/apt/sources.list)
  for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && files+=("$f")
  done
  uri=$(awk '
    /^[[:space:]]*#/ { next }
    $1 == "URIs:" { for (i = 2; i <= NF; i++) print $i }
    $1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; break } }
  ' "${files[@]}" | grep -E '/debian/?$' | head -n 1)
  [ -n "$uri" ] || { echo "no Debian mirror named in /etc/apt/sources.list(.d)" >&2; return 1; }
  echo "${uri%/}"
}

# Whether anything is mounted at or below the folder (then it must not be removed).
mounted_below() {
  awk -v root="$1" '$5 == root || index($5, root "/") == 1 { found = 1 } END { exit !found }' /proc/self/mountinfo
}

# Runs a command in the chroot inside a private mount namespace, so that /proc, /sys and /dev are
# mounted only for the command and vanish with it.
in_chroot() {
  local root=$1
  shift
  unshare --mount --propagation private -- bash -c '
    root=$1; shift
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys"
    mount --rbind /dev "$root/dev"
    exec chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
      DEBIAN_FRONTEND=noninteractive "$@"' in_chroot "$root" "$@"
}
