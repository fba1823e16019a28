#!/usr/bin/env bash
# Installs the Debian package into a clean Debian 12 system made with
# debootstrap (a chroot under build/package-check/root, kept for the next run)
# and starts the installed programs from there: Dovrik's console centre with
# two simulated terminals, and Pelmora on the offscreen platform with its
# service running, saving a picture of its window.
# Needs root (debootstrap and chroot) and the Debian mirror.
# Usage: scripts/package-check.sh
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
    echo "scripts/package-check.sh needs root (debootstrap, chroot)" >&2
    exit 2
fi
scripts/install-deps.sh package-check

scripts/package.sh
deb=$(ls build/package/pelmora_*.deb)

work=build/package-check
root="$work/root"
mkdir -p "$work"
if [ ! -x "$root/usr/bin/apt-get" ]; then
    rm -rf "$root"
    debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian
fi

mounted=()
cleanup() {
    for m in "${mounted[@]}"; do umount -l "$m" 2>/dev/null || true; done
}
trap cleanup EXIT
for fs in proc sys dev; do
    mountpoint -q "$root/$fs" || { mount --bind "/$fs" "$root/$fs"; mounted+=("$root/$fs"); }
done
cp /etc/resolv.conf "$root/etc/resolv.conf"

in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

# A clean state: remove an earlier install, then install the new package the
# way an operator does; apt pulls in what it depends on.
in_root sh -c 'dpkg -s pelmora >/dev/null 2>&1 && apt-get remove -y pelmora || true'
cp "$deb" "$root/tmp/"
in_root apt-get update
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y "/tmp/$(basename "$deb")"

echo "== installed files"
in_root dpkg -L pelmora | grep -E 'bin/|lib.*Dovrik|include|applications|icons' 
echo "== dovrik-console --demo 2 --duration 5"
in_root dovrik-console --demo 2 --port 5099 --duration 5
echo "== Pelmora --start (offscreen, 4 s)"
rm -rf "$root/tmp/pelmora-installed.png" "$root/tmp/pelmora-logs"
in_root env QT_QPA_PLATFORM=offscreen PELMORA_LOG_DIR=/tmp/pelmora-logs \
    Pelmora --start --port 5098 --quit-after 4 --screenshot /tmp/pelmora-installed.png
cp "$root/tmp/pelmora-installed.png" "$work/pelmora-installed.png"
echo "== log lines written by the installed program"
cat "$root"/tmp/pelmora-logs/pelmora-*.log
echo "Package check passed: $work/pelmora-installed.png"
