#!/usr/bin/env bash
# Signs the download with a throwaway certificate through the package command and checks
# that the signature verifies, that taking it off gives the unsigned program back byte for
# byte, that a second signing gives the same zip, and that a wrong password fails with no
# zip left. Reuses build/windows; called by scripts/test.sh after scripts/repro.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/windows
tmp=$(mktemp -d "${TMPDIR:-/tmp}/morvane-signing.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

# A CA and, under it, a code-signing certificate, kept with its key in a PKCS#12 file.
printf 'pass word\n' >"$tmp/pass"
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=Throwaway-CA -keyout "$tmp/ca.key" -out "$tmp/ca.pem" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj /CN=Throwaway-Signer -keyout "$tmp/key" -out "$tmp/csr" 2>/dev/null
printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >"$tmp/ext"
openssl x509 -req -in "$tmp/csr" -CA "$tmp/ca.pem" -CAkey "$tmp/ca.key" -CAcreateserial -extfile "$tmp/ext" -out "$tmp/cert" 2>/dev/null
openssl pkcs12 -export -inkey "$tmp/key" -in "$tmp/cert" -passout "file:$tmp/pass" -out "$tmp/cert.pfx"

cmake --preset windows >/dev/null
# Returns non-zero when the command fails or leaves a zip that SHA256SUMS does not match.
package() { # $1: the password file, $2: where a copy of the zip goes, unpacked beside it
  SIGN_PFX=$tmp/cert.pfx SIGN_PASSWORD_FILE=$1 cmake --build --preset windows --target package >"$tmp/log" 2>&1 || return 1
  zip=$(cd "$out" && ls MorvaneShutdown-*-win64.zip)
  (cd "$out" && sha256sum -c SHA256SUMS) && cp "$out/$zip" "$2" && mkdir "$2.d" && (cd "$2.d" && cmake -E tar xf "$2")
}
package "$tmp/pass" "$tmp/one.zip" || { cat "$tmp/log" >&2; exit 1; }
signed=$(ls "$tmp"/one.zip.d/*/MorvaneShutdown.exe)
osslsigncode verify -CAfile "$tmp/ca.pem" -in "$signed" | tee "$tmp/verify" | grep -E 'digest algorithm|Signing time|Subject|verification'
# Dated as the zip is (packaging/stamp.cmake), not by the clock.
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 1577836800)}
grep -Eq 'digest algorithm *: *SHA256' "$tmp/verify"
grep -q "Signing time: $(LC_ALL=C date -u -d "@$epoch" '+%b %e %T %Y')" "$tmp/verify"
osslsigncode remove-signature -in "$signed" -out "$tmp/unsigned.exe" >/dev/null
cmp "$tmp/unsigned.exe" "$out/MorvaneShutdown.exe"
echo "signature removed: the unsigned program, byte for byte"
# Signed again by someone with another umask in another time zone.
(umask 077 && export TZ=CST-8 && package "$tmp/pass" "$tmp/two.zip") || { cat "$tmp/log" >&2; exit 1; }
cmp "$tmp/one.zip" "$tmp/two.zip"
echo "signed twice: the same zip"

printf 'wrong\n' >"$tmp/wrong"
if package "$tmp/wrong" "$tmp/three.zip"; then echo "a wrong password made a zip" >&2; exit 1; fi
# The zip and SHA256SUMS of the run before are gone too.
grep -q "Signing MorvaneShutdown.exe failed" "$tmp/log"
if ls "$out"/MorvaneShutdown-*-win64.zip "$out/SHA256SUMS" 2>/dev/null; then echo "a zip was left" >&2; exit 1; fi
echo "a wrong password: the command fails, no zip"
